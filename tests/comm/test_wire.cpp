// The wire format byte for byte: command headers, length-prefixed blocks,
// the END_OF_LIST marker, and reading them back from a real loopback TCP
// connection, including streams that break or lie about lengths.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "compat.h"
#include "wire.h"
#include "socket/loopback_pair.h"
#include "unisock.h"

using talvortest::LoopbackPair;
using talvortest::Transport;

namespace {

std::string bytes(const char *p, size_t n) { return std::string(p, n); }

// A header as the design lays it out: zeros, code text at 10, count at 16.
std::string header_bytes(const std::string &code, const std::string &count) {
  std::string h(26, '\0');
  h.replace(10, code.size(), code);
  h.replace(16, count.size(), count);
  return h;
}

std::string marker() { return std::string("0?432984_|_END_OF_LIST", 23); }

// Writes raw bytes at one end of a loopback TCP connection and reads them
// with the wire functions at the other.
class WireStream : public ::testing::Test {
 protected:
  LoopbackPair pair{Transport::tcp};
  socket_t *out() { return pair.client; }
  socket_t *in() { return pair.server; }

  void SetUp() override { ASSERT_TRUE(pair.ok()); }

  void send_raw(const std::string &b) { ASSERT_EQ(out()->write(b.data(), b.size()), 1); }
  // Sends what the writer queued, then everything that arrived, whatever it is.
  std::string flush_and_receive(size_t expected) {
    out()->buffered_flush();
    EXPECT_TRUE(out()->is_ok());
    std::string got(expected, '\0');
    if (expected > 0) {
      EXPECT_EQ(in()->read(&got[0], expected), 1);
    }
    char extra;
    EXPECT_EQ(in()->read(&extra, 1, 1, 0), 0) << "more bytes than expected";
    return got;
  }
  void close_writer() {
    delete pair.client;
    pair.client = nullptr;
  }
};

}  // namespace

// ---- pure encoding ----

TEST(WireEncode, CommandHeaders) {
  struct Case {
    int code, count;
    const char *code_text, *count_text;
  } cases[] = {
      {59, 2, "59", "2"},     {211, 1, "211", "1"},         {265, 1, "265", "1"},
      {1, 0, "1", "0"},       {84, -1, "84", "-1"},         {-9999, 123456789, "-9999", "123456789"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.code);
    char h[command_header_size];
    memset(h, 0x55, sizeof(h));
    encode_command_header(h, c.code, c.count);
    EXPECT_EQ(bytes(h, sizeof(h)), header_bytes(c.code_text, c.count_text));
    int code = 7, count = 7;
    decode_command_header(h, &code, &count);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(count, c.count);
  }
}

TEST(WireEncode, TooLongValuesStayInTheirFields) {
  char h[command_header_size];
  encode_command_header(h, 1234567, 1234567890);
  // Each field keeps a NUL at its end instead of running into the next.
  EXPECT_EQ(h[15], '\0');
  EXPECT_EQ(h[25], '\0');
  EXPECT_EQ(bytes(h + 10, 6), std::string("12345\0", 6));
  EXPECT_EQ(bytes(h + 16, 10), std::string("123456789\0", 10));
}

TEST(WireEncode, BlockLength) {
  struct Case {
    int len;
    const char *text;
  } cases[] = {{1, "         1"}, {2, "         2"}, {12345, "     12345"},
               {max_block_length, " 268435456"}, {2147483647, "2147483647"}};
  for (const auto &c : cases) {
    char f[block_length_field_size + 1];
    f[block_length_field_size] = '#';
    encode_block_length(f, c.len);
    EXPECT_EQ(bytes(f, block_length_field_size), c.text);
    EXPECT_EQ(f[block_length_field_size], '#');  // exactly 10 bytes, no NUL
  }
}

// ---- pure decoding ----

TEST(WireDecode, HeaderIgnoresReservedAndTrailingBytes) {
  std::string h = header_bytes("265", "1");
  for (int i = 0; i < 10; ++i) h[i] = static_cast<char>('A' + i);  // reserved
  h[14] = 'z';                                                       // after the code's NUL
  h.replace(18, 8, "99999999");                                      // after the count's NUL
  int code = 0, count = 0;
  decode_command_header(h.data(), &code, &count);
  EXPECT_EQ(code, 265);
  EXPECT_EQ(count, 1);
}

TEST(WireDecode, HeaderFieldsEndAtTheirFieldEnd) {
  struct Case {
    const char *what;
    std::string code_field, count_field;  // 6 and 10 bytes
    int code, count;
    int well_formed;  // both fields hold a number
  } cases[] = {
      {"full fields, no NUL", "123456", "1234567890", 123456, 1234567890, 1},
      {"no number", std::string("abc\0\0\0", 6), std::string("x\0\0\0\0\0\0\0\0\0", 10), 0, 0, 0},
      {"minus one", std::string("1\0\0\0\0\0", 6), std::string("-1\0\0\0\0\0\0\0\0", 10), 1, -1, 1},
      {"empty", std::string(6, '\0'), std::string(10, '\0'), 0, 0, 0},
      {"count beyond int", "     8", "9999999999", 8, 2147483647, 1},
      {"code only", std::string("8\0\0\0\0\0", 6), std::string("?????????\0", 10), 8, 0, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::string h(10, '\0');
    h += c.code_field + c.count_field;
    ASSERT_EQ(h.size(), 26u);
    int code = -5, count = -5;
    EXPECT_EQ(decode_command_header(h.data(), &code, &count), c.well_formed);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(count, c.count);
  }
}

TEST(WireDecode, BlockLengthsOutsideTheLimitAreBroken) {
  struct Case {
    const char *field;
    int ok, len;
  } cases[] = {
      {"         5", 1, 5},           {"         0", 1, 0},   {" 268435456", 1, max_block_length},
      {" 268435457", 0, 0},           {"        -5", 0, 0},   {"2147483647", 0, 0},
      {"9999999999", 0, 0},           {"-999999999", 0, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.field);
    int len = 77;
    EXPECT_EQ(decode_block_length(c.field, &len), c.ok);
    EXPECT_EQ(len, c.len);
  }
}

TEST(WireDecode, EndOfListMarker) {
  const std::string m = marker();
  std::string altered = m;
  altered[21] = 'X';
  struct Case {
    const char *what;
    std::string block;
    int expected;
  } cases[] = {
      {"the 23 marker bytes", m, 1},
      {"marker text without its NUL", m.substr(0, 22), 0},
      {"a shorter prefix", m.substr(0, 10), 0},
      {"longer block beginning with the marker", m + "more", 1},
      {"one byte differs", altered, 0},
      {"marker later in the block", "x" + m, 0},
      {"empty block", "", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(is_end_of_list(c.block.data(), static_cast<int>(c.block.size())), c.expected);
  }
  EXPECT_EQ(is_end_of_list(nullptr, 30), 0);
  EXPECT_EQ(bytes(END_OF_LIST, end_of_list_size), m);
}

// ---- writing to a socket ----

TEST_F(WireStream, RequestWithTwoTextBlocks) {
  char three[] = "3", seven[] = "7";
  write_command_to_net(out(), 59, 2);
  EXPECT_EQ(s_write(out(), three, 2), 12);
  EXPECT_EQ(s_write(out(), seven, 2), 12);
  std::string expected = header_bytes("59", "2");
  expected += std::string("         23\0", 12);
  expected += std::string("         27\0", 12);
  EXPECT_EQ(flush_and_receive(50), expected);
}

TEST_F(WireStream, HandshakeFirstRequest) {
  char four[] = "4";
  EXPECT_EQ(write_command_to_net(out(), 211, 1), 26);
  s_write(out(), four, 2);
  EXPECT_EQ(flush_and_receive(38), header_bytes("211", "1") + std::string("         24\0", 12));
}

TEST_F(WireStream, EmptyBlockTravelsAsOneByte) {
  char text[] = "abc";
  char empty[1];  // a zero-length buffer's one byte must not be what is sent
  empty[0] = 'Q';
  EXPECT_EQ(s_write(out(), text, 0), 11);
  EXPECT_EQ(s_write(out(), text, -4), 11);
  EXPECT_EQ(s_write(out(), nullptr, 0), 11);
  EXPECT_EQ(s_write(out(), empty, 0), 11);
  const std::string one = std::string("         1\0", 11);
  EXPECT_EQ(flush_and_receive(44), one + one + one + one);
}

TEST_F(WireStream, PayloadBytesPassUnchanged) {
  std::string payload;
  for (int i = 0; i < 256; ++i) payload += static_cast<char>(i);
  std::vector<char> data(payload.begin(), payload.end());
  EXPECT_EQ(s_write(out(), data.data(), 256), 266);
  EXPECT_EQ(flush_and_receive(266), "       256" + payload);
}

// ---- reading from a socket ----

TEST_F(WireStream, ReadsHeaderWhateverTheReservedBytes) {
  std::string h = header_bytes("265", "1");
  memset(&h[0], '#', 10);
  send_raw(h + header_bytes("84", "-1"));
  int code = 0, count = 0;
  EXPECT_EQ(read_command_from_net(in(), &code, &count), 1);
  EXPECT_EQ(code, 265);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(read_command_from_net(in(), &code, &count), 1);
  EXPECT_EQ(code, 84);
  EXPECT_EQ(count, -1);
}

TEST_F(WireStream, ReadsBlocksOfExactSize) {
  send_raw(std::string("         5hello") + std::string("         3ab\0", 13));
  int len = -1;
  char *b = s_read_alloc(in(), &len);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(bytes(b, static_cast<size_t>(len)), "hello");
  free(b);
  char *d = nullptr;
  ASSERT_EQ(s_read_block(in(), &d, &len), wire_ok);
  EXPECT_EQ(bytes(d, static_cast<size_t>(len)), std::string("ab\0", 3));
  free(d);
}

TEST_F(WireStream, ZeroLengthBlockIsNonNullAndStaysInStep) {
  send_raw("         0" + header_bytes("8", "1") + "         0");
  int len = -1;
  char *b = s_read_alloc(in(), &len);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(len, 0);
  free(b);
  int code = 0, count = 0;
  EXPECT_EQ(read_command_from_net(in(), &code, &count), 1);
  EXPECT_EQ(code, 8);
  EXPECT_EQ(count, 1);
  char *d = nullptr;
  EXPECT_EQ(s_read_block(in(), &d, &len), wire_ok);
  EXPECT_NE(d, nullptr);
  EXPECT_EQ(len, 0);
  free(d);
}

TEST_F(WireStream, ListReadUntilTheMarker) {
  // An open-ended list: the reader stops at the marker block, which is
  // delivered too; what follows belongs to the next reply.
  send_raw(header_bytes("8", "-1") + std::string("         2a\0", 12) + "        23" + marker() +
           header_bytes("8", "0"));
  int code, count;
  ASSERT_EQ(read_command_from_net(in(), &code, &count), 1);
  ASSERT_EQ(count, -1);
  std::vector<std::string> blocks;
  for (int i = 0; i < 10; ++i) {
    int len;
    char *b = s_read_alloc(in(), &len);
    ASSERT_NE(b, nullptr);
    blocks.emplace_back(b, static_cast<size_t>(len));
    bool end = is_end_of_list(b, len);
    free(b);
    if (end) break;
  }
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[1], marker());
  ASSERT_EQ(read_command_from_net(in(), &code, &count), 1);
  EXPECT_EQ(code, 8);
  EXPECT_EQ(count, 0);
}

TEST_F(WireStream, SmallBufferReadsItsSizeAndDropsTheRest) {
  send_raw(std::string("        10abcdefghi\0", 20) + std::string("         3xy\0", 13) + "        10" +
           "0123456789" + "         4" + "wxyz" + header_bytes("8", "0"));
  char buf[8];
  memset(buf, '#', sizeof(buf));
  EXPECT_EQ(s_read(in(), buf, 4), 4);
  EXPECT_EQ(bytes(buf, 5), "abcd#");
  // The dropped part does not show up as the next block.
  memset(buf, '#', sizeof(buf));
  EXPECT_EQ(s_read(in(), buf, 8), 3);
  EXPECT_EQ(bytes(buf, 4), std::string("xy\0#", 4));
  // A buffer of size 0 takes nothing but still passes the block by.
  EXPECT_EQ(s_read(in(), buf, 0), 0);
  // Only the first byte is set to NUL before reading.
  memset(buf, '#', sizeof(buf));
  EXPECT_EQ(s_read(in(), buf, 8), 4);
  EXPECT_EQ(bytes(buf, 5), "wxyz#");
  int code = -1, count = -1;
  EXPECT_EQ(read_command_from_net(in(), &code, &count), 1);
  EXPECT_EQ(code, 8);
  EXPECT_EQ(count, 0);
}

TEST_F(WireStream, ZeroLengthBlockIntoABuffer) {
  send_raw("         0         1Z");
  char buf[4];
  memset(buf, '#', sizeof(buf));
  EXPECT_EQ(s_read(in(), buf, 4), 0);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(s_read(in(), buf, 4), 1);
  EXPECT_EQ(buf[0], 'Z');
}

TEST(WireBrokenStream, ImpossibleLengthsBreakTheStream) {
  // Each connection carries one bad length field; nothing is allocated for
  // it and nothing is read past it.
  const char *fields[] = {"        -5", " 999999999", "2147483647", "-999999999"};
  for (const char *f : fields) {
    SCOPED_TRACE(f);
    LoopbackPair p(Transport::tcp);
    ASSERT_TRUE(p.ok());
    std::string s = std::string(f) + "payload" + f + "payload" + f + "payload";
    ASSERT_EQ(p.client->write(s.data(), s.size()), 1);

    char *d = reinterpret_cast<char *>(1);
    int len = 55;
    EXPECT_EQ(s_read_block(p.server, &d, &len), wire_broken);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(len, 0);
    char rest[7];
    ASSERT_EQ(p.server->read(rest, 7), 1);
    EXPECT_EQ(bytes(rest, 7), "payload");

    len = 55;
    EXPECT_EQ(s_read_alloc(p.server, &len), nullptr);
    EXPECT_EQ(len, 0);
    ASSERT_EQ(p.server->read(rest, 7), 1);

    char buf[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(s_read(p.server, buf, 4), 0);
    EXPECT_EQ(buf[0], '\0');
    ASSERT_EQ(p.server->read(rest, 7), 1);
    EXPECT_EQ(bytes(rest, 7), "payload");
  }
}

TEST_F(WireStream, CutHeaderDecodesNothing) {
  // 13 bytes carry the code "59" and its NUL, then the peer goes away.
  send_raw(header_bytes("59", "2").substr(0, 13));
  close_writer();
  int code = 77, count = 77;
  EXPECT_EQ(read_command_from_net(in(), &code, &count), 0);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(in()->get_err(), unix_socket::broken_pipe);
  // And again on the dead stream.
  code = count = 77;
  EXPECT_EQ(read_command_from_net(in(), &code, &count), 0);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(count, 0);
}

struct CutBlockCase {
  const char *what;
  std::string sent;
};

TEST(WireCutStream, CutBlocksAreBroken) {
  const CutBlockCase cases[] = {
      {"length field cut", "       5"},
      {"payload cut", "        10abcd"},
      {"nothing sent", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    for (int reader = 0; reader < 3; ++reader) {
      LoopbackPair p(Transport::tcp);
      ASSERT_TRUE(p.ok());
      if (!c.sent.empty()) {
        ASSERT_EQ(p.client->write(c.sent.data(), c.sent.size()), 1);
      }
      delete p.client;
      p.client = nullptr;
      int len = 55;
      if (reader == 0) {
        char *d = reinterpret_cast<char *>(1);
        EXPECT_EQ(s_read_block(p.server, &d, &len), wire_broken);
        EXPECT_EQ(d, nullptr);
        EXPECT_EQ(len, 0);
      } else if (reader == 1) {
        EXPECT_EQ(s_read_alloc(p.server, &len), nullptr);
        EXPECT_EQ(len, 0);
      } else {
        char buf[4] = {'#', '#', '#', '#'};
        EXPECT_EQ(s_read(p.server, buf, 4), 0);
        EXPECT_EQ(buf[0], '\0');
      }
      EXPECT_EQ(p.server->get_err(), unix_socket::broken_pipe);
    }
  }
}

TEST(WireClosedSocket, WritersQueueAndReadersFail) {
  // Writers only queue, so a closed socket accepts the bytes; the flush fails.
  unix_socket s("localhost:1", socket_t::sock_global_domain);
  char text[] = "x";
  EXPECT_EQ(write_command_to_net(&s, 1, 0), 26);
  EXPECT_EQ(s_write(&s, text, 2), 12);
  EXPECT_EQ(s.buffer_size, 38);
  s.buffered_flush();
  EXPECT_EQ(s.get_err(), unix_socket::not_opened);
  EXPECT_EQ(s.buffer_size, 0);
  int code = 9, count = 9;
  EXPECT_EQ(read_command_from_net(&s, &code, &count), 0);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(count, 0);
}
