// The command connection's frame decoders, on their own and over a socket
// that serves the input as a peer's reply stream.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "memory_socket.h"
#include "wire.h"

namespace {

void check(bool condition) {
  if (!condition) abort();
}

// A header with both fields in range must survive encoding unchanged.
void check_header_round_trip(int command, int count) {
  if (command < -9999 || command > 99999 || count < -99999999 || count > 999999999) return;
  char header[command_header_size];
  encode_command_header(header, command, count);
  int c = 0, n = 0;
  check(decode_command_header(header, &c, &n) == 1);
  check(c == command && n == count);
}

void decoders(const uint8_t *data, size_t size) {
  char header[command_header_size] = {0};
  memcpy(header, data, size < sizeof header ? size : sizeof header);
  int command = 0, count = 0;
  if (decode_command_header(header, &command, &count)) check_header_round_trip(command, count);

  char field[block_length_field_size] = {0};
  memcpy(field, data, size < sizeof field ? size : sizeof field);
  int len = -1;
  if (decode_block_length(field, &len)) {
    check(len >= 0 && len <= max_block_length);
    char again[block_length_field_size];
    encode_block_length(again, len);
    int back = -1;
    check(decode_block_length(again, &back) == 1 && back == len);
  } else {
    check(len == 0);
  }

  int marker = is_end_of_list(reinterpret_cast<const char *>(data), static_cast<int>(size));
  check(marker == (size >= end_of_list_size && memcmp(data, END_OF_LIST, end_of_list_size) == 0));
}

// A reply as the client reads it: a header, then blocks until the stream
// breaks or the count is used up (an open list ends at its marker).
void reply_stream(const uint8_t *data, size_t size) {
  memory_socket sock(data, size);
  int command = -1, count = -1;
  if (!read_command_from_net(&sock, &command, &count)) return;
  for (int i = 0; i < 64 && (count < 0 || i < count); ++i) {
    char *block = nullptr;
    int len = -1;
    int status = s_read_block(&sock, &block, &len);
    if (status != wire_ok) {
      check(block == nullptr && len == 0);
      break;
    }
    check(block != nullptr && len >= 0 && len <= max_block_length);
    // Touch every byte, so a buffer shorter than its length shows up.
    volatile char sink = 0;
    for (int j = 0; j < len; ++j) sink = static_cast<char>(sink ^ block[j]);
    int end = is_end_of_list(block, len);
    free(block);
    if (count < 0 && end) break;
  }
  // What is left: a length field and that many bytes dropped.
  int len = 0;
  if (wire_read_length(&sock, &len)) wire_discard(&sock, len);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  decoders(data, size);
  reply_stream(data, size);
  return 0;
}
