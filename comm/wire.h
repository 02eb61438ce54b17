// Frames on the command connection: the 26-byte command header, length-
// prefixed data blocks and the END_OF_LIST marker.
//
// The encode/decode functions are pure (no I/O) so tests and fuzzers drive
// them with byte fixtures; the socket functions below only move bytes.
#ifndef TALVOR_COMM_WIRE_H
#define TALVOR_COMM_WIRE_H

#include <stddef.h>

#include "talvor/export.h"

class socket_t;

enum {
  command_header_size = 26,
  command_code_offset = 10,
  command_count_offset = 16,
  block_length_field_size = 10,
  end_of_list_size = 23,  // the marker text with its NUL
};

// Largest block length accepted from a peer. Anything longer (or negative)
// means the stream is broken; it is never taken as an allocation size.
enum { max_block_length = 256 * 1024 * 1024 };

// "0?432984_|_END_OF_LIST" followed by its NUL.
extern const char END_OF_LIST[end_of_list_size];

// ---- pure encoders and decoders ----

// Fills out with a header: zero bytes, "%d" of command at offset 10, "%d" of
// count at offset 16. The code must fit 5 characters, the count 9.
void encode_command_header(char out[command_header_size], int command, int count);
// Reads the code and count of a header as atoi would, each stopping at its
// NUL or at the end of its field. Text without a number decodes as 0.
// Returns 1 when both fields hold a number, 0 when either does not (a
// garbled header).
int decode_command_header(const char in[command_header_size], int *command, int *count);
// Writes the "%10d" length field (exactly 10 bytes, no NUL).
void encode_block_length(char out[block_length_field_size], int len);
// Reads a length field as atoi would. Returns 1 when the value lies in
// 0..max_block_length, 0 when it is negative or too large (a broken stream).
int decode_block_length(const char in[block_length_field_size], int *len);
// 1 when a block of len bytes is the END_OF_LIST marker (at least 23 bytes
// whose first 23 equal the marker), else 0.
int is_end_of_list(const char *data, int len);

// ---- socket operations ----

// Queues a command header on sock. Returns buffered_write's result.
TALVOR_EXPORT int write_command_to_net(socket_t *sock, int command, int count);
// Reads one 26-byte header. Returns 1 with code and count stored, or 0 when
// the read failed (code and count are then 0: nothing stale is decoded) or
// the header holds no numbers (stored as decoded, 0 where no number was).
TALVOR_EXPORT int read_command_from_net(socket_t *sock, int *command, int *count);
// Queues one block: "%10d" of len (raised to 1 when 0 or less), then len
// bytes of data. Returns buffered_write's result, 0 when out of memory.
TALVOR_EXPORT int s_write(socket_t *sock, char *data, int len);

// Outcome of a block read, for callers that must tell the cases apart.
enum wire_status {
  wire_ok = 1,         // block read
  wire_no_memory = 0,  // payload could not be allocated; it was read and dropped
  wire_broken = -1     // read failed or the length is impossible: stop using the stream
};
// Reads one block into a new buffer of exactly its length (caller frees).
// On wire_ok *data is non-null (also for length 0); otherwise null, *len 0.
int s_read_block(socket_t *sock, char **data, int *len);
// Reads one length field. 1 with *len set, 0 when the read failed or the
// length is impossible (a broken stream).
int wire_read_length(socket_t *sock, int *len);
// Reads and drops n bytes so the stream stays in step. 1 when all arrived.
int wire_discard(socket_t *sock, long long n);

#endif
