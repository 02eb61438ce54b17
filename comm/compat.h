// Entry points kept for programs that link against them; nothing in the
// library calls these. They are thin layers over the live channel, wire and
// thread code, and live in compat.cpp.
#ifndef TALVOR_COMM_COMPAT_H
#define TALVOR_COMM_COMPAT_H

#include "platform.h"
#include "talvor/export.h"

class socket_t;

// ---- framing addressed by stream: the lock is chosen by comparing the
// stream with the current channel's ends ----

// Header writers/readers return 0 on success, -1 when the stream failed
// (end of stream or write error; a failed read stores code 0 and count 0).
// With a socket, write_command_to_pipe queues a wire header on it instead.
TALVOR_EXPORT int write_command_to_pipe(pipe_stream file, int command, int count, socket_t *sock);
TALVOR_EXPORT int write_sock_and_command_to_pipe(pipe_stream file, socket_t *sock, int command,
                                                 int count);
TALVOR_EXPORT int read_command_from_pipe(pipe_stream file, int *command, int *count, socket_t **sock);
TALVOR_EXPORT int read_command_from_pipe_no_progress(pipe_stream file, int *command, int *count,
                                                     socket_t **sock);
// Writes a block of len bytes ("%10d" length). Returns len (-1 on failure).
TALVOR_EXPORT int pipe_send(pipe_stream file, int len, char *data, socket_t *sock);
// Writes text with its NUL ("%010d" length); null is the empty text.
// Returns the block length, -1 on failure.
TALVOR_EXPORT int pipe_print(pipe_stream file, char *text, socket_t *sock);
// Reads a block into a new buffer of exactly its length (caller frees).
// Null with *len 0 for a length of 0 or less, a block that cannot be
// allocated (its payload is read and dropped), or a failed stream.
TALVOR_EXPORT char *pipe_get_alloc(pipe_stream file, int *len);
// Reads a block into buf (at most size bytes; the rest is dropped). Returns
// the length field's value, 0 for an empty or failed block.
TALVOR_EXPORT int pipe_get(char *buf, int size, pipe_stream file);
// Replaces every CR and LF of text by NUL. Returns 0.
TALVOR_EXPORT int strip_lf(char *text);

// ---- blocks from a socket ----

// Reads one block as s_read_block does, reporting only null for every
// failure (*len 0). A block of
// length 0 gives a non-null zero-length buffer.
TALVOR_EXPORT char *s_read_alloc(socket_t *sock, int *len);
// Reads one block into buf: n = min(length, size) bytes, buf[0] = NUL first.
// The part of the payload beyond size is read and dropped so the stream
// stays in step. Returns n, 0 for an empty or failed block.
TALVOR_EXPORT int s_read(socket_t *sock, char *buf, int size);

// ---- the communications thread ----

// Thread entry of the traditional shape: runs server(*arg) and returns 0.
TALVOR_EXPORT int x_server(int *arg);
// Serves the current channel on the calling thread. 1 when the relay ended
// through a command, 0 when the connection or handshake failed or the
// connection broke.
TALVOR_EXPORT int server(int);
// Prints "CAUGHT SIGNAL %d\n" and ends the process. Never installed.
TALVOR_EXPORT void sig_int(int signal);

#endif
