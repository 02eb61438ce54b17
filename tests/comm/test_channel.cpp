// Framing of channel headers and blocks on the in-process pipes, pinned to
// the exact bytes, and the readers' handling of short or odd input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "channel.h"
#include "compat.h"
#include "wire.h"

namespace {

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, start_communications()); }
  void TearDown() override { stop_communications(); }

  // Reads exactly n raw bytes that a caller-side writer put on the command pipe.
  static std::string raw_from_command_pipe(size_t n) {
    std::string bytes(n, '\0');
    EXPECT_EQ(n, fread(&bytes[0], 1, n, server_read_fp));
    return bytes;
  }
  // Puts raw bytes on the reply pipe for the caller side to read.
  static void raw_to_reply_pipe(const std::string &bytes) {
    ASSERT_EQ(bytes.size(), fwrite(bytes.data(), 1, bytes.size(), server_write_fp));
    fflush(server_write_fp);
  }
};

TEST_F(ChannelTest, HeaderIsThreeZeroFilledLines) {
  struct Case {
    int command, count;
    const char *bytes;
  } cases[] = {
      {59, 2, "0000000000\n0000000059\n0000000002\n"},
      {48, -1, "0000000000\n0000000048\n-000000001\n"},
      {0, 0, "0000000000\n0000000000\n0000000000\n"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(0, write_command_to_pipe(client_write_fp, c.command, c.count, nullptr));
    EXPECT_EQ(std::string(c.bytes), raw_from_command_pipe(33)) << c.command;
  }
}

TEST_F(ChannelTest, PipePrintSendsTextWithItsNul) {
  pipe_print(client_write_fp, (char *)"abc", nullptr);
  EXPECT_EQ(std::string("0000000004abc\0", 14), raw_from_command_pipe(14));
  pipe_print(client_write_fp, (char *)"", nullptr);
  EXPECT_EQ(std::string("0000000001\0", 11), raw_from_command_pipe(11));
  pipe_print(client_write_fp, nullptr, nullptr);
  EXPECT_EQ(std::string("0000000001\0", 11), raw_from_command_pipe(11));
}

TEST_F(ChannelTest, PipeSendUsesSpacePaddedLength) {
  EXPECT_EQ(3, pipe_send(client_write_fp, 3, (char *)"xyz", nullptr));
  EXPECT_EQ(std::string("         3xyz"), raw_from_command_pipe(13));
}

TEST_F(ChannelTest, BlockReaderAcceptsBothLengthForms) {
  raw_to_reply_pipe(std::string("0000000004abc\0", 14));
  raw_to_reply_pipe(std::string("         4abc\0", 14));
  for (int i = 0; i < 2; ++i) {
    int len = -1;
    char *data = pipe_get_alloc(client_read_fp, &len);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(4, len);
    EXPECT_EQ(0, memcmp(data, "abc", 4));
    free(data);
  }
}

TEST_F(ChannelTest, EmptyBlockIsMissingAndStreamStaysInStep) {
  raw_to_reply_pipe("         0");
  raw_to_reply_pipe("0000000000\n0000000008\n0000000001\n");
  int len = -1;
  EXPECT_EQ(nullptr, pipe_get_alloc(client_read_fp, &len));
  EXPECT_EQ(0, len);
  int code = -1, count = -1;
  EXPECT_EQ(0, read_command_from_pipe(client_read_fp, &code, &count, nullptr));
  EXPECT_EQ(8, code);
  EXPECT_EQ(1, count);
}

TEST_F(ChannelTest, BothHeaderReadersAgree) {
  raw_to_reply_pipe("0000000000\n0000000057\n-000000001\n");
  raw_to_reply_pipe("0000000000\n0000000057\n-000000001\n");
  int c1 = 0, n1 = 0, c2 = 0, n2 = 0;
  read_command_from_pipe(client_read_fp, &c1, &n1, nullptr);
  read_command_from_pipe_no_progress(client_read_fp, &c2, &n2, nullptr);
  EXPECT_EQ(57, c1);
  EXPECT_EQ(-1, n1);
  EXPECT_EQ(c1, c2);
  EXPECT_EQ(n1, n2);
}

TEST_F(ChannelTest, PipeGetDropsWhatDoesNotFit) {
  raw_to_reply_pipe("         6abcdef");
  raw_to_reply_pipe(std::string("         2z\0", 12));
  char buf[4] = {0};
  EXPECT_EQ(6, pipe_get(buf, 3, client_read_fp));
  EXPECT_EQ(0, memcmp(buf, "abc", 3));
  EXPECT_EQ(2, pipe_get(buf, 4, client_read_fp));
  EXPECT_EQ('z', buf[0]);
}

TEST_F(ChannelTest, SocketFieldCarriesAReference) {
  socket_t *fake = reinterpret_cast<socket_t *>(this);
  write_sock_and_command_to_pipe(client_write_fp, fake, 7, 0);
  write_sock_and_command_to_pipe(client_write_fp, nullptr, 7, 0);
  socket_t *got = nullptr;
  int code = 0, count = 0;
  read_command_from_pipe(server_read_fp, &code, &count, &got);
  EXPECT_EQ(fake, got);
  EXPECT_EQ(7, code);
  read_command_from_pipe(server_read_fp, &code, &count, &got);
  EXPECT_EQ(nullptr, got);
}

TEST_F(ChannelTest, EndOfStreamIsReportedNotDecoded) {
  raw_to_reply_pipe("0000000000\n00000000");  // a header cut short
  fclose(server_write_fp);
  server_write_fp = nullptr;
  int code = -1, count = -1;
  EXPECT_EQ(-1, read_command_from_pipe(client_read_fp, &code, &count, nullptr));
  EXPECT_EQ(0, code);
  EXPECT_EQ(0, count);
  int len = -1;
  EXPECT_EQ(nullptr, pipe_get_alloc(client_read_fp, &len));
  EXPECT_EQ(0, len);
}

TEST_F(ChannelTest, PipesAreCloseOnExec) {
  for (FILE *f : {client_read_fp, client_write_fp, server_read_fp, server_write_fp, client_read_notify_fp,
                  server_write_notify_fp}) {
    EXPECT_TRUE(fcntl(fileno(f), F_GETFD) & FD_CLOEXEC);
  }
}

TEST(StripLf, ReplacesEveryLineEnd) {
  char text[] = "a\r\nb\nc";
  strip_lf(text);
  EXPECT_EQ(0, memcmp(text, "a\0\0b\0c", 7));
}

}  // namespace
