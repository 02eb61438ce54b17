// The scripted server seen from a raw client made of the socket library and
// the wire functions: what it records, what bytes it answers with, and how
// each fault looks from the client's side.
#include "support/script_server.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <memory>
#include <string>
#include <vector>

#include "wire.h"
#include "sockio.h"

namespace talvortest {
namespace {

const std::string kMarker("0?432984_|_END_OF_LIST\0", 23);

// A command header as it travels: 10 reserved zero bytes, then the code and
// the count as text, each field padded with NULs.
std::string Header(const char *code, const char *count) {
  std::string c(code), n(count);
  c.resize(6, '\0');
  n.resize(10, '\0');
  return std::string(10, '\0') + c + n;
}

// One progress reply: code 84, one block holding "50" and its NUL.
const std::string kProgress = Header("84", "1") + "         3" + std::string("50\0", 3);

// A client that speaks the wire format directly. Every read is bounded.
class RawClient {
 public:
  explicit RawClient(int port) {
    std::string address = "127.0.0.1:" + std::to_string(port);
    sock_.reset(socket_t::connect(address.c_str(), socket_t::sock_global_domain, 1, 0));
  }

  bool ok() { return sock_->is_ok() != 0; }

  void send(int code, int count, const std::vector<std::string> &blocks) {
    write_command_to_net(sock_.get(), code, count);
    for (const std::string &b : blocks)
      s_write(sock_.get(), const_cast<char *>(b.data()), static_cast<int>(b.size()));
    sock_->buffered_flush();
  }
  void send(int code, const std::vector<std::string> &blocks) {
    send(code, static_cast<int>(blocks.size()), blocks);
  }

  // Up to n bytes: fewer when the server closes (eof() turns true) or when
  // nothing arrives for 5 seconds.
  std::string read_bytes(size_t n) {
    std::string out;
    char buf[4096];
    while (out.size() < n && !eof_) {
      size_t want = std::min(sizeof(buf), n - out.size());
      long got = sock_->read(buf, 1, want, 5);
      if (got < 0) eof_ = true;
      if (got <= 0) break;
      out.append(buf, static_cast<size_t>(got));
    }
    return out;
  }

  // Everything up to the server's close (or 5 seconds of silence).
  std::string read_to_eof() { return read_bytes(static_cast<size_t>(-1) / 2); }

  bool eof() const { return eof_; }

  // True when nothing (data or close) arrives within ms milliseconds.
  bool quiet_for(int ms) {
    pollfd p{static_cast<int>(sock_->MyGetActual()), POLLIN, 0};
    return poll(&p, 1, ms) == 0;
  }

  // The handshake a client performs; true when both answers are 8.
  bool handshake() {
    send(211, {T("4")});
    if (read_bytes(26) != Header("8", "0")) return false;
    send(265, {T("211")});
    return read_bytes(26) == Header("8", "0");
  }

  void close() { sock_.reset(); }

 private:
  std::unique_ptr<socket_t> sock_;
  bool eof_ = false;
};

TEST(ScriptServer, AddressNamesBothPorts) {
  ScriptServer server;
  ASSERT_GT(server.port(), 0);
  ASSERT_GT(server.notify_port(), 0);
  EXPECT_NE(server.port(), server.notify_port());
  EXPECT_EQ(server.address(), "127.0.0.1:" + std::to_string(server.port()) + ":" +
                                  std::to_string(server.notify_port()));
}

TEST(ScriptServer, HandshakeIsAnsweredAndRecorded) {
  ScriptServer server;
  RawClient client(server.port());
  ASSERT_TRUE(client.ok());

  client.send(211, {T("4")});
  EXPECT_EQ(client.read_bytes(26), Header("8", "0"));
  client.send(265, {T("211")});
  EXPECT_EQ(client.read_bytes(26), Header("8", "0"));

  std::vector<Request> reqs = server.requests();
  ASSERT_EQ(reqs.size(), 2u);
  EXPECT_EQ(reqs[0].code, 211);
  EXPECT_EQ(reqs[0].count, 1);
  EXPECT_EQ(reqs[0].blocks, std::vector<std::string>{std::string("4\0", 2)});
  EXPECT_EQ(reqs[1].code, 265);
  EXPECT_EQ(reqs[1].blocks, std::vector<std::string>{std::string("211\0", 4)});
  EXPECT_EQ(server.command_connections(), 1);
  EXPECT_TRUE(client.quiet_for(50));  // no stray bytes after the answers
}

class FirstExchangeRejection : public ::testing::TestWithParam<int> {};

TEST_P(FirstExchangeRejection, EachRejectionClosesUntilTheLimitIsUsedUp) {
  const int n = GetParam();
  ScriptServer::Options options;
  options.reject_first_exchange = n;
  ScriptServer server(options);

  for (int i = 0; i < n; ++i) {
    RawClient client(server.port());
    ASSERT_TRUE(client.ok());
    client.send(211, {T("4")});
    EXPECT_EQ(client.read_to_eof(), Header("0", "0")) << "rejection " << i;
    EXPECT_TRUE(client.eof()) << "rejection " << i;
  }
  RawClient client(server.port());
  EXPECT_TRUE(client.handshake());
  EXPECT_EQ(server.command_connections(), n + 1);
  std::vector<int> expected(static_cast<size_t>(n + 1), 211);
  expected.push_back(265);
  EXPECT_EQ(server.codes(), expected);
}

INSTANTIATE_TEST_SUITE_P(Counts, FirstExchangeRejection, ::testing::Values(1, 3));

TEST(ScriptServer, VersionRejectionKeepsTheConnectionOpen) {
  ScriptServer::Options options;
  options.reject_version = true;
  ScriptServer server(options);
  RawClient client(server.port());

  client.send(211, {T("4")});
  EXPECT_EQ(client.read_bytes(26), Header("8", "0"));
  client.send(265, {T("211")});
  EXPECT_EQ(client.read_bytes(26), Header("0", "0"));
  // Still served on the same connection.
  client.send(211, {T("4")});
  EXPECT_EQ(client.read_bytes(26), Header("8", "0"));
  EXPECT_FALSE(client.eof());
  EXPECT_EQ(server.codes(), (std::vector<int>{211, 265, 211}));
  EXPECT_EQ(server.command_connections(), 1);
}

TEST(ScriptServer, RequestBlocksAreRecordedByteForByte) {
  ScriptServer server;
  RawClient client(server.port());
  ASSERT_TRUE(client.handshake());
  server.clear();
  EXPECT_TRUE(server.requests().empty());
  EXPECT_FALSE(server.wait_for_requests(1, 20));

  const std::string binary("a\0b\xff", 4);
  client.send(59, {T("3"), binary});
  EXPECT_EQ(client.read_bytes(26), Header("8", "0"));  // the default answer

  ASSERT_TRUE(server.wait_for_requests(1, 5000));
  std::vector<Request> reqs = server.requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].code, 59);
  EXPECT_EQ(reqs[0].count, 2);
  EXPECT_EQ(reqs[0].blocks, (std::vector<std::string>{std::string("3\0", 2), binary}));
}

TEST(ScriptServer, BlockListsEndAtTheMarker) {
  ScriptServer server;
  RawClient client(server.port());
  ASSERT_TRUE(client.handshake());
  server.clear();

  const std::string near_marker = kMarker.substr(0, 22);  // no NUL: not the marker
  const std::string long_marker = kMarker + "tail";       // starts with it: the marker
  client.send(70, -1, {T("x"), near_marker, long_marker});
  // The count promises four blocks, but the marker ends the list after two.
  client.send(71, 4, {T("p"), kMarker});
  client.send(72, {});
  EXPECT_EQ(client.read_bytes(3 * 26), Header("8", "0") + Header("8", "0") + Header("8", "0"));

  std::vector<Request> reqs = server.requests();
  ASSERT_EQ(reqs.size(), 3u);
  EXPECT_EQ(reqs[0].code, 70);
  EXPECT_EQ(reqs[0].count, -1);
  EXPECT_EQ(reqs[0].blocks, (std::vector<std::string>{T("x"), near_marker, long_marker}));
  EXPECT_EQ(reqs[1].code, 71);
  EXPECT_EQ(reqs[1].count, 4);
  EXPECT_EQ(reqs[1].blocks, (std::vector<std::string>{T("p"), kMarker}));
  EXPECT_EQ(reqs[2].code, 72);
  EXPECT_TRUE(reqs[2].blocks.empty());
}

TEST(ScriptServer, ScriptIsUsedInOrderThenTheDefault) {
  ScriptServer server;
  Reply first;
  first.blocks = {T("12")};
  first.progress = 2;
  server.push(first);
  Reply second;
  second.count = -1;
  second.blocks = {T("a"), kMarker};
  server.push(second);
  Reply fallback;
  fallback.code = 9;
  server.set_default(fallback);

  RawClient client(server.port());
  ASSERT_TRUE(client.handshake());
  const std::string expected[] = {
      kProgress + kProgress + Header("8", "1") + "         3" + std::string("12\0", 3),
      Header("8", "-1") + "         2" + std::string("a\0", 2) + "        23" + kMarker,
      Header("9", "0"),
      Header("9", "0"),
  };
  for (const std::string &bytes : expected) {
    client.send(59, {T("1"), T("2")});
    EXPECT_EQ(client.read_bytes(bytes.size()), bytes);
  }
  EXPECT_TRUE(client.quiet_for(50));
  EXPECT_EQ(server.codes(), (std::vector<int>{211, 265, 59, 59, 59, 59}));
}

struct ReplyCase {
  const char *name;
  Reply reply;
  std::string bytes;  // what the client receives
  bool closes;        // the server closes the connection after them
};

Reply Make(Reply::Fault fault, std::vector<std::string> blocks = {}, int count = -2,
           int progress = 0) {
  Reply r;
  r.fault = fault;
  r.blocks = std::move(blocks);
  r.count = count;
  r.progress = progress;
  return r;
}

class ReplyBytes : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyBytes, ClientSeesExactlyTheScriptedBytes) {
  const ReplyCase &c = GetParam();
  ScriptServer server;
  server.push(c.reply);
  RawClient client(server.port());
  ASSERT_TRUE(client.handshake());

  client.send(59, {T("1"), T("2")});
  if (c.closes) {
    EXPECT_EQ(client.read_to_eof(), c.bytes);
    EXPECT_TRUE(client.eof());
    EXPECT_TRUE(server.wait_for_all_closed(5000));
  } else {
    EXPECT_EQ(client.read_bytes(c.bytes.size()), c.bytes);
    // The stream is still in step: a disconnect gets its own bare answer.
    client.send(1, {});
    EXPECT_EQ(client.read_to_eof(), Header("8", "0"));
    EXPECT_TRUE(client.eof());
  }
  ASSERT_TRUE(server.wait_for_requests(3, 5000));
  EXPECT_EQ(server.requests()[2].code, 59);
}

const std::string kTwenty = T("0123456789ABCDEFGHI");  // 20 bytes with the NUL

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyBytes,
    ::testing::Values(
        ReplyCase{"count_given_explicitly", Make(Reply::none, {T("v")}, 5),
                  Header("8", "5") + "         2" + std::string("v\0", 2), false},
        ReplyCase{"empty_block_travels_as_one_byte", Make(Reply::none, {""}),
                  Header("8", "1") + "         1" + std::string(1, '\0'), false},
        ReplyCase{"close_before", Make(Reply::close_before, {T("v")}), "", true},
        ReplyCase{"close_before_after_progress", Make(Reply::close_before, {}, -2, 1), kProgress,
                  true},
        ReplyCase{"close_after_header", Make(Reply::close_after_header, {T("abc")}),
                  Header("8", "1"), true},
        ReplyCase{"close_mid_block", Make(Reply::close_mid_block, {kTwenty}),
                  Header("8", "1") + "        20" + "01234", true},
        ReplyCase{"close_mid_block_without_blocks", Make(Reply::close_mid_block),
                  Header("8", "1") + "     ", true},
        ReplyCase{"garbage_header", Make(Reply::garbage_header, {T("v")}),
                  std::string(26, '?'), true},
        ReplyCase{"negative_length", Make(Reply::negative_length),
                  Header("8", "1") + "        -5", true},
        ReplyCase{"huge_length", Make(Reply::huge_length, {}, 3),
                  Header("8", "3") + " 999999999", true}),
    [](const ::testing::TestParamInfo<ReplyCase> &info) { return std::string(info.param.name); });

TEST(ScriptServer, DisconnectIsAnsweredBareAndClosed) {
  ScriptServer server;
  server.push(Make(Reply::none, {T("not for the disconnect")}));
  RawClient client(server.port());
  ASSERT_TRUE(client.handshake());
  client.send(1, {});
  EXPECT_EQ(client.read_to_eof(), Header("8", "0"));
  EXPECT_TRUE(client.eof());
  EXPECT_TRUE(server.wait_for_all_closed(5000));
  EXPECT_EQ(server.codes(), (std::vector<int>{211, 265, 1}));
}

TEST(ScriptServer, StallHoldsTheConnectionUntilTheServerStops) {
  auto server = std::make_unique<ScriptServer>();
  server->push(Make(Reply::stall));
  RawClient client(server->port());
  ASSERT_TRUE(client.handshake());
  client.send(59, {T("1")});
  ASSERT_TRUE(server->wait_for_requests(3, 5000));
  EXPECT_TRUE(client.quiet_for(100));  // neither an answer nor a close
  EXPECT_EQ(server->open_command_connections(), 1);

  server.reset();  // must return although the connection is held
  EXPECT_EQ(client.read_to_eof(), "");
  EXPECT_TRUE(client.eof());
}

TEST(ScriptServer, StalledConnectionDoesNotBlockAnother) {
  ScriptServer server;
  server.push(Make(Reply::stall));
  RawClient stalled(server.port());
  ASSERT_TRUE(stalled.handshake());
  stalled.send(59, {T("1")});
  ASSERT_TRUE(server.wait_for_requests(3, 5000));

  RawClient other(server.port());
  ASSERT_TRUE(other.handshake());
  other.send(59, {T("2")});
  EXPECT_EQ(other.read_bytes(26), Header("8", "0"));
  EXPECT_EQ(server.open_command_connections(), 2);
}

// A held reply goes out whole on its release and the session goes on; a
// server that stops first sends nothing and still stops.
TEST(ScriptServer, HeldReplyWaitsForReleaseOrStop) {
  const std::string answer = Header("8", "1") + "         2" + std::string("v\0", 2);
  for (bool released : {true, false}) {
    SCOPED_TRACE(released ? "released" : "stopped first");
    auto server = std::make_unique<ScriptServer>();
    server->push(Make(Reply::hold, {T("v")}));
    RawClient client(server->port());
    ASSERT_TRUE(client.handshake());
    client.send(59, {T("1")});
    ASSERT_TRUE(server->wait_for_requests(3, 5000));
    EXPECT_TRUE(client.quiet_for(100));  // neither an answer nor a close
    if (released) {
      server->release_held();
      EXPECT_EQ(client.read_bytes(answer.size()), answer);
      client.send(1, {});  // still in step: the disconnect gets its own answer
      EXPECT_EQ(client.read_to_eof(), Header("8", "0"));
    } else {
      server.reset();
      EXPECT_EQ(client.read_to_eof(), "");
    }
    EXPECT_TRUE(client.eof());
  }
}

TEST(ScriptServer, EndlessProgressRunsUntilTheClientLeaves) {
  ScriptServer server;
  server.push(Make(Reply::endless_progress));
  RawClient client(server.port());
  ASSERT_TRUE(client.handshake());
  client.send(59, {T("1")});
  std::string five;
  for (int i = 0; i < 5; ++i) five += kProgress;
  EXPECT_EQ(client.read_bytes(five.size()), five);
  client.close();
  // The next failing write ends the serving thread and closes its side.
  EXPECT_TRUE(server.wait_for_all_closed(5000));
}

TEST(ScriptServer, StopsWhileProgressIsEndless) {
  auto server = std::make_unique<ScriptServer>();
  server->push(Make(Reply::endless_progress));
  RawClient client(server->port());
  ASSERT_TRUE(client.handshake());
  client.send(59, {T("1")});
  EXPECT_EQ(client.read_bytes(kProgress.size()), kProgress);
  server.reset();  // the client never reads on; the server must still stop
  client.read_to_eof();
  EXPECT_TRUE(client.eof());
}

TEST(ScriptServer, NotifyConnectionIsHeldUntilTheClientCloses) {
  ScriptServer server;
  RawClient notify(server.notify_port());
  ASSERT_TRUE(notify.ok());
  ASSERT_TRUE(server.wait_for_connections(0, 1, 5000));
  EXPECT_EQ(server.open_notify_connections(), 1);
  EXPECT_TRUE(notify.quiet_for(50));  // nothing ever travels on it
  notify.close();
  EXPECT_TRUE(server.wait_for_all_closed(5000));
  EXPECT_EQ(server.notify_connections(), 1);
  EXPECT_EQ(server.command_connections(), 0);
}

TEST(ScriptServer, NotifyPortRefusesWhenNotListening) {
  ScriptServer::Options options;
  options.listen_notify = false;
  ScriptServer server(options);
  ASSERT_GT(server.notify_port(), 0);
  RawClient notify(server.notify_port());
  EXPECT_FALSE(notify.ok());
  RawClient client(server.port());
  EXPECT_TRUE(client.handshake());
  EXPECT_EQ(server.notify_connections(), 0);
}

TEST(ScriptServer, StopsWithIdleConnectionsOpen) {
  auto server = std::make_unique<ScriptServer>();
  RawClient client(server->port());
  RawClient notify(server->notify_port());
  ASSERT_TRUE(client.handshake());
  ASSERT_TRUE(server->wait_for_connections(1, 1, 5000));
  server.reset();
  client.read_to_eof();
  notify.read_to_eof();
  EXPECT_TRUE(client.eof());
  EXPECT_TRUE(notify.eof());
}

}  // namespace
}  // namespace talvortest
