// The server's request reading against peers that announce more than they
// send: memory follows the bytes that arrive, not the lengths announced.
// This program replaces the global operator new to see the largest single
// allocation, so it is a program of its own.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <new>
#include <string>

#include "frames.h"
#include "support/memory_socket.h"
#include "wire.h"

namespace {
std::atomic<bool> tracking{false};
std::atomic<size_t> largest{0};
}  // namespace

// Both sides go to malloc and free; GCC cannot see that they are paired.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void *operator new(size_t n) {
  if (tracking.load()) {
    size_t seen = largest.load();
    while (n > seen && !largest.compare_exchange_weak(seen, n)) {
    }
  }
  void *p = malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void operator delete(void *p) noexcept { free(p); }
void operator delete(void *p, size_t) noexcept { free(p); }

namespace {

std::string header(int code, int count) {
  char h[command_header_size];
  encode_command_header(h, code, count);
  return std::string(h, sizeof h);
}

std::string block(const std::string &payload) {
  char field[block_length_field_size];
  encode_block_length(field, static_cast<int>(payload.size()));
  return std::string(field, sizeof field) + payload;
}

// Reads one request from bytes, noting the largest allocation meanwhile.
int read_tracked(const std::string &bytes, request *req, size_t *largest_allocation) {
  memory_socket sock(bytes.data(), bytes.size());
  largest = 0;
  tracking = true;
  int status = read_request(&sock, request_limits(), -1, req);
  tracking = false;
  *largest_allocation = largest.load();
  return status;
}

TEST(ServerFrames, AnnouncedBlockLengthIsNotAllocatedBeforeItsBytesArrive) {
  // 36 bytes on the wire announcing a 60 MB block, then the peer stops.
  std::string bytes = header(211, 1) + "  62914560";
  request req;
  size_t largest_allocation = 0;
  EXPECT_EQ(read_broken, read_tracked(bytes, &req, &largest_allocation));
  EXPECT_LT(largest_allocation, 1024u * 1024u);
}

TEST(ServerFrames, PartOfAHugeBlockCostsAboutWhatArrived) {
  std::string bytes = header(110, 1) + "  62914560" + std::string(300 * 1024, 'x');
  request req;
  size_t largest_allocation = 0;
  EXPECT_EQ(read_broken, read_tracked(bytes, &req, &largest_allocation));
  EXPECT_LT(largest_allocation, 2u * 1024u * 1024u);
}

// Blocks around and well past the size the reader takes at a time arrive
// whole, byte for byte, and the next block starts where it should.
TEST(ServerFrames, LongBlocksArriveIntact) {
  for (size_t size : {size_t{65535}, size_t{65536}, size_t{65537}, size_t{300001}}) {
    std::string payload(size, '\0');
    for (size_t i = 0; i < size; ++i) payload[i] = static_cast<char>(i * 131 + 7);
    std::string bytes = header(120, 2) + block(payload) + block(std::string("after\0", 6));
    memory_socket sock(bytes.data(), bytes.size());
    request req;
    ASSERT_EQ(read_ok, read_request(&sock, request_limits(), -1, &req)) << size;
    ASSERT_EQ(2u, req.blocks.size()) << size;
    EXPECT_TRUE(req.blocks[0] == payload) << size;
    EXPECT_EQ(std::string("after\0", 6), req.blocks[1]) << size;
    EXPECT_EQ(0u, sock.remaining()) << size;
  }
}

// A peer that sends some bytes and then stays silent: a timed wait past its
// bytes sees nothing, and an untimed read would wait for ever.
class silent_peer : public memory_socket {
 public:
  using memory_socket::memory_socket;
  using memory_socket::read;
  long read(void *buf, size_t min_size, size_t max_size, time_t timeout) override {
    if (remaining() == 0) return 0;
    return memory_socket::read(buf, min_size, max_size, timeout);
  }
  int read(void *buf, size_t size) override {
    waited_without_limit = true;
    return memory_socket::read(buf, size);
  }
  bool waited_without_limit = false;
};

TEST(ServerFrames, TimedRequestMustArriveWholeNotJustItsHeader) {
  const std::string cases[] = {
      header(211, 1),                        // the block never starts
      header(211, 1) + "         5",         // its length, then nothing
      header(211, 2) + block(std::string("4\0", 2)) + "   ",  // second block cut in its length
  };
  for (const std::string &bytes : cases) {
    silent_peer sock(bytes.data(), bytes.size());
    request req;
    EXPECT_EQ(read_timeout, read_request(&sock, request_limits(), 5, &req)) << bytes.size();
    EXPECT_FALSE(sock.waited_without_limit) << bytes.size();
  }
}

TEST(ServerFrames, BlockCutShortIsBroken) {
  std::string bytes = header(120, 1) + "    100000" + std::string(99999, 'y');
  memory_socket sock(bytes.data(), bytes.size());
  request req;
  EXPECT_EQ(read_broken, read_request(&sock, request_limits(), -1, &req));
  EXPECT_TRUE(req.blocks.empty());
}

}  // namespace
