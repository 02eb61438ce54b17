// Frames on the command connection: headers, length-prefixed blocks and the
// END_OF_LIST marker, and the functions that move them over a socket_t.
#include "wire.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sockio.h"

const char END_OF_LIST[end_of_list_size] = "0?432984_|_END_OF_LIST";

namespace {

const int code_field_size = command_count_offset - command_code_offset;  // 6
const int count_field_size = command_header_size - command_count_offset;  // 10

// atoi over at most n bytes, stopping at a NUL: leading white space, an
// optional sign, digits. Saturates instead of overflowing.
int parse_int(const char *p, int n) {
  int i = 0;
  while (i < n && (p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < n && (p[i] == '+' || p[i] == '-')) {
    negative = p[i] == '-';
    ++i;
  }
  long long value = 0;
  for (; i < n && p[i] >= '0' && p[i] <= '9'; ++i) {
    value = value * 10 + (p[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

// 1 when the field starts (after blanks and a sign) with a digit: the text
// atoi would read a number from.
int has_number(const char *p, int n) {
  int i = 0;
  while (i < n && (p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r'))) ++i;
  if (i < n && (p[i] == '+' || p[i] == '-')) ++i;
  return i < n && p[i] >= '0' && p[i] <= '9';
}

}  // namespace

// ---- pure encoders and decoders ----

namespace {
// Writes "%d" of value into a field of field_size bytes that already holds
// zeros. The field keeps its NUL: a value too long for it is cut rather than
// spilling into the next field.
void put_number(char *field, int field_size, int value) {
  char text[16];
  int len = snprintf(text, sizeof(text), "%d", value);
  if (len > field_size - 1) len = field_size - 1;
  memcpy(field, text, static_cast<size_t>(len));
}
}  // namespace

void encode_command_header(char out[command_header_size], int command, int count) {
  memset(out, 0, command_header_size);
  put_number(out + command_code_offset, code_field_size, command);
  put_number(out + command_count_offset, count_field_size, count);
}

int decode_command_header(const char in[command_header_size], int *command, int *count) {
  if (command != nullptr) *command = parse_int(in + command_code_offset, code_field_size);
  if (count != nullptr) *count = parse_int(in + command_count_offset, count_field_size);
  return has_number(in + command_code_offset, code_field_size) &&
         has_number(in + command_count_offset, count_field_size);
}

void encode_block_length(char out[block_length_field_size], int len) {
  char text[32];
  snprintf(text, sizeof(text), "%10d", len);
  memcpy(out, text, block_length_field_size);
}

int decode_block_length(const char in[block_length_field_size], int *len) {
  int value = parse_int(in, block_length_field_size);
  if (value < 0 || value > max_block_length) {
    *len = 0;
    return 0;
  }
  *len = value;
  return 1;
}

int is_end_of_list(const char *data, int len) {
  if (data == nullptr || len < end_of_list_size) return 0;
  return memcmp(data, END_OF_LIST, end_of_list_size) == 0;
}

// ---- socket operations ----

// Reads and drops n bytes so the stream stays in step. 1 when all arrived.
int wire_discard(socket_t *sock, long long n) {
  char scratch[4096];
  while (n > 0) {
    size_t chunk = n > static_cast<long long>(sizeof(scratch)) ? sizeof(scratch)
                                                                : static_cast<size_t>(n);
    if (!sock->read(scratch, chunk)) return 0;
    n -= static_cast<long long>(chunk);
  }
  return 1;
}

// Reads one length field. 1 with *len set, 0 when the read failed or the
// length is impossible (a broken stream).
int wire_read_length(socket_t *sock, int *len) {
  char field[block_length_field_size];
  memset(field, 0, sizeof(field));
  *len = 0;
  if (!sock->read(field, sizeof(field))) return 0;
  return decode_block_length(field, len);
}

int write_command_to_net(socket_t *sock, int command, int count) {
  char header[command_header_size];
  encode_command_header(header, command, count);
  return static_cast<int>(sock->buffered_write(header, sizeof(header)));
}

int read_command_from_net(socket_t *sock, int *command, int *count) {
  char header[command_header_size];
  memset(header, 0, sizeof(header));
  if (!sock->read(header, sizeof(header))) {
    // Decode nothing from a header that did not arrive whole.
    if (command != nullptr) *command = 0;
    if (count != nullptr) *count = 0;
    return 0;
  }
  // A header without numbers means the peer is not speaking the protocol.
  return decode_command_header(header, command, count);
}

int s_write(socket_t *sock, char *data, int len) {
  // An empty block still travels as one byte; it is a NUL, so an empty
  // buffer is never read past its end.
  bool empty = len <= 0;
  if (empty) len = 1;
  size_t total = static_cast<size_t>(len) + block_length_field_size;
  // Small frames, nearly all of them, are built on the stack: no heap
  // allocation per block.
  char small[1024];
  char *frame = total <= sizeof(small) ? small : static_cast<char *>(malloc(total));
  if (frame == nullptr) return 0;
  encode_block_length(frame, len);
  if (empty || data == nullptr)
    memset(frame + block_length_field_size, 0, static_cast<size_t>(len));
  else
    memcpy(frame + block_length_field_size, data, static_cast<size_t>(len));
  long queued = sock->buffered_write(frame, total);
  if (frame != small) free(frame);
  return static_cast<int>(queued);
}

int s_read_block(socket_t *sock, char **data, int *len) {
  *data = nullptr;
  *len = 0;
  int n;
  if (!wire_read_length(sock, &n)) return wire_broken;
  // At least one byte so a block of length 0 still gets a real buffer.
  char *buf = static_cast<char *>(malloc(n > 0 ? static_cast<size_t>(n) : 1));
  if (buf == nullptr) return wire_discard(sock, n) ? wire_no_memory : wire_broken;
  memset(buf, 0xFF, n > 0 ? static_cast<size_t>(n) : 1);
  if (n > 0 && !sock->read(buf, static_cast<size_t>(n))) {
    free(buf);
    return wire_broken;
  }
  *data = buf;
  *len = n;
  return wire_ok;
}
