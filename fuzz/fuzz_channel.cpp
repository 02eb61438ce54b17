// The channel readers over an in-memory stream: the stream the caller reads
// replies from and the communications thread reads commands from.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "channel.h"
#include "channel_io.h"
#include "wire.h"

namespace {

platform_lock lock = PLATFORM_LOCK_INIT;

void check(bool condition) {
  if (!condition) abort();
}

}  // namespace

// The first byte picks, bit by bit, how each block is read: whole into a
// new buffer, or into a small caller buffer with the rest dropped.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  unsigned modes = data[0];
  // fmemopen reads from a buffer it does not own; give it a private copy.
  char *copy = static_cast<char *>(malloc(size - 1));
  if (!copy) return 0;
  memcpy(copy, data + 1, size - 1);
  FILE *file = fmemopen(copy, size - 1, "r");
  if (!file) {
    free(copy);
    return 0;
  }
  for (int round = 0; round < 8; ++round) {
    int sockref = -1, command = -1, count = -1;
    if (channel_read_header(file, &lock, &sockref, &command, &count) != 0) {
      check(sockref == 0 && command == 0 && count == 0);
      break;
    }
    bool broken = false;
    for (int i = 0; i < 16 && (count < 0 || i < count) && !broken; ++i) {
      if (modes & (1u << (i % 8))) {
        char small[8];
        int n = channel_read_block_into(file, &lock, small, static_cast<int>(sizeof small));
        check(n >= 0 && n <= max_block_length);
        broken = n == 0;
      } else {
        char *block = nullptr;
        int len = -1;
        int status = channel_read_block(file, &lock, &block, &len);
        if (status == wire_ok) {
          check(len >= 0 && len <= max_block_length);
          check((block != nullptr) == (len > 0));
          volatile char sink = 0;
          for (int j = 0; j < len; ++j) sink = static_cast<char>(sink ^ block[j]);
          if (count < 0 && is_end_of_list(block, len)) broken = true;
        } else {
          check(block == nullptr && len == 0);
          broken = true;
        }
        free(block);
      }
    }
  }
  fclose(file);
  free(copy);
  return 0;
}
