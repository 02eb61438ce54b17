// The reference server's request decoding, fed the input as a client's
// bytes; every request read whole is answered and the answer read back.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frames.h"
#include "memory_socket.h"

namespace {

void check(bool condition) {
  if (!condition) abort();
}

// A reply of the request's texts must read back as the same texts, each
// with its NUL.
void check_reply_round_trip(const request &req) {
  reply r;
  r.code = req.code;
  for (const std::string &b : req.blocks) r.blocks.push_back(block_text(b));
  memory_socket out(nullptr, 0);
  check(send_reply(&out, r) == 1);
  memory_socket back(out.written().data(), out.written().size());
  request again;
  check(read_request(&back, request_limits(), -1, &again) == read_ok);
  // Codes travel in five characters; longer ones are cut on the way out.
  if (r.code >= -9999 && r.code <= 99999) check(again.code == r.code);
  check(again.announced == static_cast<int>(r.blocks.size()));
  // A text that is itself the marker ends the list early when read back.
  check(again.blocks.size() <= r.blocks.size());
  for (size_t i = 0; i < again.blocks.size(); ++i) check(again.blocks[i] == r.blocks[i] + '\0');
}

void check_block_int(const std::string &block) {
  long long value = 0;
  if (!block_int(block, &value)) return;
  check(value > -1000000000000LL && value < 1000000000000LL);
  // The number printed back matches the block's digits, leading zeros and
  // a plus sign aside.
  std::string t = block_text(block);
  long long parsed = strtoll(t.c_str(), nullptr, 10);
  check(parsed == value);
}

}  // namespace

// The first byte chooses the limits and whether the header read is timed.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  request_limits limits;
  if (data[0] & 1) {
    limits.max_blocks = 4;
    limits.max_bytes = 64;
  }
  time_t timeout = (data[0] & 2) ? 5 : -1;
  memory_socket sock(data + 1, size - 1);
  for (int i = 0; i < 16; ++i) {
    request req;
    int status = read_request(&sock, limits, timeout, &req);
    if (status != read_ok) break;
    check(req.blocks.size() <= limits.max_blocks);
    size_t total = 0;
    for (const std::string &b : req.blocks) {
      total += b.size();
      check_block_int(b);
    }
    check(total <= limits.max_bytes);
    check_reply_round_trip(req);
  }
  return 0;
}
