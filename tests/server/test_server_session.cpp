// The reference server's connection life: handshake, client slots, notify
// connection, login, ending a session, and what bad input and vanishing
// clients do to it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "wire.h"
#include "server/server_fixture.h"

extern char **environ;

namespace talvortest {
namespace {

// The header bytes of a request, with its code and count.
std::string header(int code, int count) {
  char h[command_header_size];
  encode_command_header(h, code, count);
  return std::string(h, sizeof(h));
}

// A block length field as written on the wire (no payload).
std::string length_field(const char *text10) { return std::string(text10, 10); }

// Serves a plain request on a fresh client: the server is still up.
void expect_server_serves(int port) {
  raw_client c(port);
  ASSERT_TRUE(c.connected());
  int app = c.start("shop", "reader", reader_password);
  ASSERT_GT(app, 0);
  EXPECT_EQ(c.form(app, "customers") > 0, true);
}

using ServerSession = ReferenceServer;

TEST_F(ServerSession, HandshakeAnswersEightWithoutBlocks) {
  raw_client c(port_);
  ASSERT_TRUE(c.connected());
  raw_reply a = c.call(211, {"4"});
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(a.code, 8);
  EXPECT_EQ(a.count, 0);
  raw_reply b = c.call(265, {"211"});
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.code, 8);
  EXPECT_EQ(b.count, 0);
}

TEST_F(ServerSession, BadHandshakesAreRefusedAndTheSessionGoesOn) {
  struct step {
    int code;
    std::vector<std::string> blocks;
  };
  struct bad_case {
    const char *what;
    std::vector<step> before;
    step bad;
  } cases[] = {
      {"first exchange with another text", {}, {211, {"5"}}},
      {"first exchange without a block", {}, {211, {}}},
      {"version before the first exchange", {}, {265, {"211"}}},
      {"another version", {{211, {"4"}}}, {265, {"210"}}},
      {"a command before the handshake", {}, {59, {"1", "1"}}},
      {"open an application before the handshake", {}, {3, {"shop", "0"}}},
  };
  for (const bad_case &bc : cases) {
    SCOPED_TRACE(bc.what);
    raw_client c(port_);
    for (const step &s : bc.before) ASSERT_EQ(c.call(s.code, s.blocks).code, 8);
    raw_reply r = c.call(bc.bad.code, bc.bad.blocks);
    ASSERT_TRUE(r.ok);
    EXPECT_NE(r.code, 8);
    EXPECT_EQ(r.count, 0);
    // The connection still completes a proper handshake afterwards.
    EXPECT_TRUE(c.handshake());
  }
}

TEST_F(ServerSession, FirstExchangeBeyondMaxClientsIsRefusedAndTheSlotComesBack) {
  restart([](server_config &c) { c.max_clients = 2; });
  raw_client a(port_), b(port_);
  ASSERT_TRUE(a.handshake());
  ASSERT_TRUE(b.handshake());

  raw_client c(port_);
  raw_reply r = c.call(211, {"4"});
  ASSERT_TRUE(r.ok);
  EXPECT_NE(r.code, 8);
  EXPECT_EQ(r.count, 0);
  EXPECT_TRUE(c.closed_by_server());

  // A session that ends gives its slot back.
  raw_reply bye = a.call(1, {});
  EXPECT_EQ(bye.code, 8);
  EXPECT_TRUE(a.closed_by_server());
  bool admitted = false;
  for (int attempt = 0; attempt < 50 && !admitted; ++attempt) {
    raw_client d(port_);
    raw_reply first = d.call(211, {"4"});
    admitted = first.ok && first.code == 8;
    if (!admitted) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(admitted);
}

TEST_F(ServerSession, NotifyConnectionIsAcceptedAndHeldOpen) {
  raw_client cmd(port_);
  ASSERT_TRUE(cmd.handshake());
  raw_client notify(server_notify_port(server_));
  ASSERT_TRUE(notify.connected());
  EXPECT_EQ(server_notify_port(server_), port_ + 1);
  // Nothing arrives and the server does not close it.
  raw_client probe(server_notify_port(server_), "127.0.0.1", 1);
  ASSERT_TRUE(probe.connected());
  EXPECT_FALSE(probe.read().ok);
  EXPECT_FALSE(probe.closed_by_server(1));
}

TEST_F(ServerSession, SilentConnectionIsDroppedAfterTheHandshakeTimeout) {
  restart([](server_config &c) { c.handshake_timeout_s = 1; });
  raw_client c(port_);
  ASSERT_TRUE(c.connected());
  EXPECT_TRUE(c.closed_by_server());
}

TEST_F(ServerSession, LoginChecksUserAndPassword) {
  struct login_case {
    const char *user;
    const char *password;
    int level;  // -1: refused
  } cases[] = {
      {"reader", reader_password, 0},
      {"writer", writer_password, 1},
      {"admin", admin_password, 2},
      {"admin", writer_password, -1},
      {"admin", "", -1},
      {"admin", "boss of all ", -1},
      {"nobody", admin_password, -1},
      {"", "", -1},
      {"ADMIN", admin_password, -1},
  };
  raw_client c(port_);
  ASSERT_TRUE(c.handshake());
  int app = c.open_application("shop");
  ASSERT_GT(app, 0);
  for (const login_case &lc : cases) {
    SCOPED_TRACE(std::string(lc.user) + "/" + lc.password);
    raw_reply r = c.login(app, lc.user, lc.password);
    ASSERT_TRUE(r.ok);
    if (lc.level < 0) {
      EXPECT_NE(r.code, 8);
      EXPECT_EQ(r.count, 0);
      // A refused login leaves the application closed to this session.
      EXPECT_EQ(c.form(app, "customers"), -2);
    } else {
      EXPECT_EQ(r.code, 8);
      ASSERT_EQ(r.blocks.size(), 2u);
      EXPECT_EQ(atoi(r.blocks[1].c_str()), lc.level);
      EXPECT_GT(c.form(app, "customers"), 0);
    }
  }
}

TEST_F(ServerSession, PasswordsAreNotStoredInClear) {
  for (const char *password : {reader_password, writer_password, admin_password}) {
    SCOPED_TRACE(password);
    EXPECT_EQ(query(std::string("SELECT count(*) FROM talvor_users WHERE instr(name || salt || "
                                "password_hash, '") + password + "') > 0"),
              "0");
  }
}

TEST_F(ServerSession, OpenApplicationByName) {
  raw_client c(port_);
  ASSERT_TRUE(c.handshake());
  int shop = c.open_application("shop");
  EXPECT_GT(shop, 0);
  EXPECT_EQ(c.open_application("shop"), shop);  // the same id again
  for (const char *name : {"nosuch", "", "../shop", "shop.db", "shop/..", "/etc/passwd"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(c.open_application(name), -1);
  }
  // A file that is not a database is no application either.
  FILE *f = fopen((dir_ + "/junk.db").c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs("this is not a database, just text that is long enough to look like a header\n", f);
  fclose(f);
  EXPECT_EQ(c.open_application("junk"), -1);
}

TEST_F(ServerSession, CommandsNeedALogin) {
  raw_client c(port_);
  ASSERT_TRUE(c.handshake());
  int app = c.open_application("shop");
  ASSERT_GT(app, 0);
  EXPECT_EQ(c.form(app, "customers"), -2);
  raw_reply r = c.call(109, {std::to_string(app)});
  EXPECT_NE(r.code, 43);
  EXPECT_EQ(r.count, 0);
}

TEST_F(ServerSession, RequestOneAnswersAHeaderAndEndsTheSession) {
  int app;
  auto c = session("reader", reader_password, &app);
  raw_reply r = c->call(1, {});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.code, 8);
  EXPECT_EQ(r.count, 0);
  EXPECT_TRUE(c->closed_by_server());
}

TEST_F(ServerSession, UnknownCommandsAnswerFailureWithoutBlocks) {
  int app;
  auto c = session("reader", reader_password, &app);
  for (int code : {0, 4, 99, 84, 8, 12345, -7}) {
    SCOPED_TRACE(code);
    raw_reply r = c->call(code, {"1", "2"});
    ASSERT_TRUE(r.ok);
    EXPECT_NE(r.code, 8);
    EXPECT_EQ(r.count, 0);
  }
  EXPECT_GT(c->form(app, "customers"), 0);
}

TEST_F(ServerSession, WrongBlockCountsAndNumbersAreRefused) {
  int app;
  auto c = session("reader", reader_password, &app);
  int set = c->search(app, "customers", {});
  ASSERT_GT(set, 0);
  std::string a = std::to_string(app), s = std::to_string(set);
  struct bad {
    int code;
    std::vector<std::string> blocks;
  } cases[] = {
      {59, {a}},                    // total without the set
      {59, {a, s, "extra"}},        // one block too many
      {59, {"x", s}},               // application not a number
      {59, {a, "1x"}},              // set not a number
      {59, {a, "99999999999999"}},  // out of range
      {86, {a, s, "first"}},        // position not a number
      {75, {a}},                    // form lookup without a name
      {3, {"shop"}},                // open without its second block
      {299, {a, s}},                // close without its fixed blocks
  };
  for (const bad &b : cases) {
    SCOPED_TRACE(b.code);
    raw_reply r = c->call(b.code, b.blocks);
    ASSERT_TRUE(r.ok);
    EXPECT_NE(r.code, 8);
    EXPECT_NE(r.code, 43);
    EXPECT_EQ(r.count, 0);
  }
  EXPECT_EQ(c->total(app, set).code, 8);
}

TEST_F(ServerSession, MalformedFramesEndOnlyThatSession) {
  int app;
  auto witness = session("reader", reader_password, &app);
  int set = witness->search(app, "customers", {});
  ASSERT_GT(set, 0);

  struct frame_case {
    const char *what;
    std::string bytes;
    bool closes;  // the server ends the session rather than answering
  } cases[] = {
      {"a header of junk", std::string(26, '\x7f'), true},
      {"a header without a count", header(59, 0).substr(0, 16) + std::string(10, 'x'), true},
      {"a negative block length", header(59, 1) + length_field("        -5"), true},
      {"a block length beyond the wire limit", header(59, 1) + length_field(" 999999999"), true},
      {"a block length beyond the request budget", header(59, 1) + length_field(" 200000000"),
       true},
      {"a length field of letters", header(59, 1) + length_field("abcdefghij"), false},
      {"an endless list", header(54, -1) + [] {
         std::string b;
         for (int i = 0; i < 10001; ++i) b += length_field("         1") + std::string(1, 'x');
         return b;
       }(),
       true},
  };
  for (const frame_case &fc : cases) {
    SCOPED_TRACE(fc.what);
    raw_client c(port_);
    ASSERT_TRUE(c.handshake());
    ASSERT_TRUE(c.send_raw(fc.bytes));
    if (fc.closes) {
      EXPECT_TRUE(c.closed_by_server());
    } else {
      // Decoded as a header or block the server can answer.
      raw_reply r = c.read();
      EXPECT_TRUE(r.ok);
      EXPECT_NE(r.code, 8);
    }
  }
  // Junk in place of the first exchange too.
  raw_client junk(port_);
  ASSERT_TRUE(junk.send_raw(std::string(26, 'J')));
  EXPECT_TRUE(junk.closed_by_server());

  EXPECT_EQ(witness->total(app, set).code, 8);
  expect_server_serves(port_);
}

TEST_F(ServerSession, ClientsVanishingMidRequestEndOnlyTheirSession) {
  int app;
  auto witness = session("reader", reader_password, &app);
  struct vanish_case {
    const char *what;
    std::string bytes;
  } cases[] = {
      {"half a header", header(59, 2).substr(0, 13)},
      {"a header, no blocks", header(59, 2)},
      {"one of two blocks", header(59, 2) + length_field("         2") + std::string("1\0", 2)},
      {"half a block", header(59, 2) + length_field("       100") + "only a little"},
      {"a list without its marker", header(54, -1) + length_field("         2") +
                                        std::string("1\0", 2)},
  };
  for (const vanish_case &vc : cases) {
    SCOPED_TRACE(vc.what);
    raw_client c(port_);
    ASSERT_TRUE(c.handshake());
    ASSERT_TRUE(c.send_raw(vc.bytes));
    c.close();
  }
  EXPECT_GT(witness->form(app, "customers"), 0);
  expect_server_serves(port_);
}

TEST_F(ServerSession, StopEndsConnectedSessions) {
  int app;
  auto c = session("writer", writer_password, &app);
  int set = c->search(app, "customers", {"name=Alma Berg"});
  ASSERT_GT(set, 0);
  ASSERT_EQ(c->set_value(app, set, "city", "Bergen").code, 8);  // never committed
  raw_client idle(port_);
  raw_client notify(server_notify_port(server_));
  stop_server(server_);
  server_ = nullptr;
  EXPECT_TRUE(c->closed_by_server());
  EXPECT_TRUE(idle.closed_by_server());
  EXPECT_TRUE(notify.closed_by_server());
  EXPECT_EQ(query("SELECT city FROM customers WHERE id = 1"), "Oslo");
}

TEST_F(ServerSession, ListenAddressIsHonoured) {
  // Every 127.x address is this machine; listening on one leaves the others refused.
  restart([](server_config &c) { c.listen_address = "127.0.0.2"; });
  raw_client there(port_, "127.0.0.2");
  EXPECT_TRUE(there.connected());
  EXPECT_TRUE(there.handshake());
  raw_client elsewhere(port_, "127.0.0.1");
  EXPECT_FALSE(elsewhere.connected());
}

#ifdef TALVOR_SERVER_BINARY
TEST_F(ServerSession, ExecutableAddsUsersWithThePasswordFromStandardInput) {
  std::string command = std::string(TALVOR_SERVER_BINARY) + " --set-user " + dir_ + " shop newbie 1";
  FILE *p = popen(command.c_str(), "w");
  ASSERT_NE(p, nullptr);
  fputs("fresh pass\n", p);
  EXPECT_EQ(pclose(p), 0);
  raw_client c(port_);
  ASSERT_TRUE(c.handshake());
  int app = c.open_application("shop");
  raw_reply r = c.login(app, "newbie", "fresh pass");
  ASSERT_EQ(r.code, 8);
  EXPECT_EQ(r.blocks[1], "1");
  EXPECT_NE(c.login(app, "newbie", "fresh pass\n").code, 8);

  // A level outside 0 to 2 is refused.
  command = std::string(TALVOR_SERVER_BINARY) + " --set-user " + dir_ + " shop boss 3 2>/dev/null";
  p = popen(command.c_str(), "w");
  ASSERT_NE(p, nullptr);
  fputs("x\n", p);
  EXPECT_NE(pclose(p), 0);
  EXPECT_EQ(query("SELECT count(*) FROM talvor_users WHERE name = 'boss'"), "0");
}

// The command line: --port 0 prints the ports, SIGTERM stops the server.
TEST_F(ServerSession, ExecutableListensOnEphemeralPortsAndStopsOnSigterm) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string binary = TALVOR_SERVER_BINARY;
  std::vector<std::string> args = {binary, "--data", dir_, "--port", "0"};
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);

  std::string line;
  char ch;
  pollfd p = {out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) == 1 &&
         ::read(out[0], &ch, 1) == 1)
    line.push_back(ch);
  close(out[0]);
  int command = 0, notify = 0;
  EXPECT_EQ(sscanf(line.c_str(), "listening on 127.0.0.1:%d:%d", &command, &notify), 2) << line;
  EXPECT_EQ(notify, command + 1);
  if (command > 0) {
    raw_client c(command);
    EXPECT_TRUE(c.handshake());
    EXPECT_GT(c.open_application("shop"), 0);
  }

  kill(pid, SIGTERM);
  int status = 0;
  bool exited = false;
  for (int i = 0; i < 100 && !exited; ++i) {
    exited = waitpid(pid, &status, WNOHANG) == pid;
    if (!exited) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!exited) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(exited);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

}  // namespace
}  // namespace talvortest
