// Connect, disconnect, the handshake and the relay, against the scriptable
// test server. Every wait is bounded: a fault must end in a code, not a hang.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "channel.h"
#include "comm_thread.h"
#include "wire.h"
#include "api.h"
#include "request.h"
#include "state.h"
#include "support/script_server.h"

using talvortest::Reply;
using talvortest::ScriptServer;
using talvortest::T;

namespace {

char *str(std::string &s) { return &s[0]; }

int connect_to(const ScriptServer &server) {
  std::string address = server.address();
  return TalvorConnect(str(address));
}

// Every test starts and ends with no connection and no channel.
class ConnectionTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (active_com > 0) TalvorDisconnect();
    wait_for_threads_to_end(5000);
    stop_communications();
    global_active_connection = 0;
    global_error = 0;
  }
  // Sends a bare command on the channel as an operation would.
  static void send_bare(int command) { send_header(command, 0); }
};

TEST_F(ConnectionTest, AddressGivesCommandAndNotifyNames) {
  // A host that can never resolve, on any machine: a DNS label holds at most
  // 63 characters, so no query can even be built, and .invalid is reserved
  // never to resolve. The connect must fail at once whatever the network.
  const std::string host = std::string(64, 'h') + ".invalid";
  struct Case {
    std::string address, server, notify;
  } cases[] = {
      {"", ":20000", ":20001"},
      {":7000", ":7000", ":7001"},
      {":7000:8000", ":7000", ":8000"},
      {":7000:8000:9000", ":7000", ":8000"},
      {":", ":0", ":1"},
      {":abc", ":0", ":1"},
  };
  testing::internal::CaptureStderr();
  for (const Case &c : cases) {
    std::string address = host + c.address;
    EXPECT_EQ(0, TalvorConnect(str(address))) << address;
    EXPECT_EQ(3, TalvorError()) << address;
    EXPECT_EQ(host + c.server, server_name) << address;
    EXPECT_EQ(host + c.notify, notify_server_name) << address;
  }
  // An empty host names no machine either.
  std::string empty_host = ":7000";
  EXPECT_EQ(0, TalvorConnect(str(empty_host)));
  EXPECT_STREQ(":7000", server_name);
  EXPECT_STREQ(":7001", notify_server_name);
  std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, messages.find("Connection to server failed: bad address\n"));
  EXPECT_EQ(0, active_com.load());
}

TEST_F(ConnectionTest, NullOrOversizedAddressStartsNothing) {
  std::string too_long(1100, 'h');
  char *addresses[] = {nullptr, str(too_long)};
  for (char *address : addresses) {
    EXPECT_EQ(0, TalvorConnect(address));
    EXPECT_EQ(3, TalvorError());
    EXPECT_EQ(nullptr, client_write_fp);
    EXPECT_STREQ("", server_name);
  }
}

TEST_F(ConnectionTest, ConnectShakesHandsAndDisconnectCloses) {
  ScriptServer server;
  ASSERT_EQ(1, connect_to(server));
  EXPECT_EQ(0, TalvorError());
  EXPECT_EQ(1, active_com.load());
  EXPECT_EQ(1, global_active_connection.load());
  ASSERT_TRUE(server.wait_for_connections(1, 1));

  auto requests = server.requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(211, requests[0].code);
  EXPECT_EQ(1, requests[0].count);
  EXPECT_EQ(std::vector<std::string>{T("4")}, requests[0].blocks);
  EXPECT_EQ(265, requests[1].code);
  EXPECT_EQ(std::vector<std::string>{T("211")}, requests[1].blocks);

  TalvorDisconnect();
  EXPECT_EQ(0, TalvorError());
  EXPECT_EQ(0, active_com.load());
  EXPECT_EQ(0, global_active_connection.load());
  EXPECT_EQ(nullptr, client_write_fp);
  EXPECT_EQ(1, server.codes().back());
  EXPECT_TRUE(server.wait_for_all_closed());
}

TEST_F(ConnectionTest, DisconnectWithoutThreadReports17AndChangesNothing) {
  global_active_connection = 1;
  TalvorDisconnect();
  EXPECT_EQ(17, TalvorError());
  EXPECT_EQ(17, TalvorError());  // reading the code does not change it
  EXPECT_EQ(1, global_active_connection.load());
}

TEST_F(ConnectionTest, ConnectWhileConnectedDisconnectsFirst) {
  ScriptServer first, second;
  ASSERT_EQ(1, connect_to(first));
  ASSERT_EQ(1, connect_to(second));
  EXPECT_EQ(0, TalvorError());
  EXPECT_EQ(1, first.codes().back());
  EXPECT_EQ(1, active_com.load());
  EXPECT_EQ(1, second.command_connections());
}

TEST_F(ConnectionTest, ReconnectAfterThreadEndedKeeps17) {
  ScriptServer first, second;
  ASSERT_EQ(1, connect_to(first));
  Reply gone;
  gone.fault = Reply::close_before;
  first.push(gone);
  send_bare(59);
  EXPECT_EQ(0, read_reply(8));
  EXPECT_EQ(7, global_error);
  ASSERT_TRUE(wait_for_threads_to_end(5000));
  EXPECT_EQ(1, global_active_connection.load());  // the thread ended by itself

  ASSERT_EQ(1, connect_to(second));
  EXPECT_EQ(17, TalvorError());
  EXPECT_EQ(1, active_com.load());
}

TEST_F(ConnectionTest, FirstExchangeRejections) {
  struct Case {
    int rejections, connected, connections;
    const char *message;
  } cases[] = {
      {3, 1, 4, ""},
      {10, 0, 11, "Failed to connect to server - too many clients.\n"},
  };
  for (const Case &c : cases) {
    ScriptServer::Options options;
    options.reject_first_exchange = c.rejections;
    ScriptServer server(options);
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.connected, connect_to(server)) << c.rejections;
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.message, messages);
    EXPECT_EQ(c.connected ? 0 : 3, TalvorError());
    // The last connection may still wait in the server's accept queue.
    EXPECT_TRUE(server.wait_for_connections(c.connections, c.connected));
    EXPECT_EQ(c.connections, server.command_connections());
    if (c.connected) TalvorDisconnect();
    EXPECT_TRUE(server.wait_for_all_closed());
  }
}

TEST_F(ConnectionTest, VersionRejectionEndsTheHandshakeAtOnce) {
  ScriptServer::Options options;
  options.reject_version = true;
  ScriptServer server(options);
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, connect_to(server));
  EXPECT_EQ("Failed to connect to server - clients/server version missmatch.\n",
            testing::internal::GetCapturedStderr());
  EXPECT_EQ(3, TalvorError());
  EXPECT_EQ(1, server.command_connections());
  EXPECT_EQ(0, server.notify_connections());
  EXPECT_EQ(0, active_com.load());
  EXPECT_EQ(0, global_active_connection.load());
  EXPECT_TRUE(server.wait_for_all_closed());
}

// A server that accepts and then never answers: the connect gives up after
// its wait, and the thread lets go of the connection instead of waiting on
// it for ever.
TEST_F(ConnectionTest, SilentServerDoesNotHoldTheThread) {
  ScriptServer::Options options;
  options.silent_handshake = true;
  ScriptServer server(options);
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, connect_to(server));
  EXPECT_EQ(3, TalvorError());
  EXPECT_TRUE(server.wait_for_all_closed(15000));
  testing::internal::GetCapturedStderr();
  EXPECT_LE(server.command_connections(), 2);
  EXPECT_EQ(0, active_com.load());
}

TEST_F(ConnectionTest, ProgressRepliesNeverReachTheCaller) {
  ScriptServer server;
  ASSERT_EQ(1, connect_to(server));
  Reply reply;
  reply.progress = 3;
  reply.blocks = {T("42")};
  server.push(reply);
  send_header(59, 2);
  send_number(3);
  send_number(7);
  int code = 0, count = 0;
  ASSERT_EQ(1, read_reply(8, -1, &code, &count));
  EXPECT_EQ(1, count);
  int value = 0;
  ASSERT_EQ(1, read_number(&value));
  EXPECT_EQ(42, value);
  auto request = server.requests().back();
  EXPECT_EQ(59, request.code);
  EXPECT_EQ((std::vector<std::string>{T("3"), T("7")}), request.blocks);
}

TEST_F(ConnectionTest, OpenListsTravelWholeBothWays) {
  ScriptServer server;
  ASSERT_EQ(1, connect_to(server));
  std::string marker(END_OF_LIST, end_of_list_size);
  Reply reply;
  reply.count = -1;
  reply.blocks = {T("a"), T("b"), marker};
  server.push(reply);

  send_header(48, -1);
  send_text("x");
  send_text("y");
  send_end_of_list();
  int code = 0, count = 0;
  ASSERT_EQ(1, read_reply(8, -1, &code, &count));
  EXPECT_EQ(-1, count);
  for (const std::string &expected : reply.blocks) {
    int len = 0;
    char *block = read_block(&len);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(expected, std::string(block, len));
    free(block);
  }
  auto request = server.requests().back();
  EXPECT_EQ(-1, request.count);
  EXPECT_EQ((std::vector<std::string>{T("x"), T("y"), marker}), request.blocks);
}

// A server that breaks the connection at any point: the waiting call gets a
// failure code, the thread ends and active_com falls.
TEST_F(ConnectionTest, BrokenReplyEndsInACodeNotAHang) {
  struct Case {
    Reply::Fault fault;
    int code;  // what the operation reports
  } cases[] = {
      {Reply::close_before, 7},       {Reply::close_after_header, 6}, {Reply::close_mid_block, 6},
      {Reply::garbage_header, 7},     {Reply::negative_length, 6},    {Reply::huge_length, 6},
  };
  for (const Case &c : cases) {
    ScriptServer server;
    ASSERT_EQ(1, connect_to(server));
    Reply reply;
    reply.fault = c.fault;
    reply.count = 1;
    server.push(reply);
    global_error = 0;
    send_header(59, 0);
    int value = 0;
    if (read_reply(8)) read_number(&value);
    EXPECT_EQ(c.code, global_error) << c.fault;
    EXPECT_TRUE(wait_for_threads_to_end(5000)) << c.fault;
    EXPECT_EQ(0, active_com.load());
    // A later operation is refused without touching the dead channel.
    EXPECT_EQ(0, require_connection());
    EXPECT_EQ(18, global_error);
    TearDown();
  }
}

TEST_F(ConnectionTest, EndlessProgressThatStopsEndsInACode) {
  auto server = std::make_unique<ScriptServer>();
  ASSERT_EQ(1, connect_to(*server));
  Reply reply;
  reply.fault = Reply::endless_progress;
  server->push(reply);
  send_header(59, 0);
  std::thread stopper([&server] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    server.reset();
  });
  EXPECT_EQ(0, read_reply(8));
  EXPECT_EQ(7, global_error);
  stopper.join();
  EXPECT_TRUE(wait_for_threads_to_end(5000));
}

}  // namespace
