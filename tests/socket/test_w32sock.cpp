// The Windows sockets over real loopback TCP connections and over shared
// memory between two processes: connection attempts, addresses, reads and
// writes, the output queue, the listener side and the error texts.
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "w32sock.h"

namespace {

std::string error_text(socket_t *s) {
  char buf[512];
  memset(buf, 0, sizeof(buf));
  s->get_error_text(buf, sizeof(buf) - 1);
  return buf;
}

int bound_port(socket_t *listener) {
  sockaddr_in sin;
  int len = sizeof(sin);
  memset(&sin, 0, sizeof(sin));
  if (getsockname(static_cast<SOCKET>(listener->MyGetActual()), reinterpret_cast<sockaddr *>(&sin), &len) != 0)
    return -1;
  return ntohs(sin.sin_port);
}

// A loopback port bound by a socket that never listens, so every connection
// to it is refused while the socket lives.
struct RefusingPort {
  SOCKET s = INVALID_SOCKET;
  int port = -1;
  RefusingPort() {
    s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin;
    memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) != 0) return;
    int len = sizeof(sin);
    if (getsockname(s, reinterpret_cast<sockaddr *>(&sin), &len) == 0) port = ntohs(sin.sin_port);
  }
  ~RefusingPort() {
    if (s != INVALID_SOCKET) closesocket(s);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port); }
};

// Exposes the error code so every text can be asked for.
struct ProbeSocket : w32_socket {
  explicit ProbeSocket(long code) : w32_socket("localhost:1") { errcode = code; }
};
struct ProbeLocalSocket : w32_local_socket {
  explicit ProbeLocalSocket(long code) : w32_local_socket("probe") { errcode = code; }
};

// Listener on an ephemeral port, a connected client and the accepted end.
struct TcpPair {
  std::unique_ptr<socket_t> listener, client, server;
  TcpPair() {
    listener.reset(socket_t::create_global("localhost:0"));
    if (!listener->is_ok()) return;
    std::string addr = "127.0.0.1:" + std::to_string(bound_port(listener.get()));
    client.reset(socket_t::connect(addr.c_str(), socket_t::sock_global_domain, 1, 0));
    if (client) server.reset(listener->accept(10));
  }
  bool ok() const { return listener->is_ok() && client && server; }
};

std::vector<char> pattern(size_t n, int seed) {
  std::vector<char> v(n);
  for (size_t i = 0; i < n; i++) v[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xff);
  return v;
}

// A name for a local listener that no other test process uses.
std::string unique_local_address() {
  static std::atomic<int> counter{0};
  return "talvor-w32-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) + ":0";
}

// The other process of a local connection (w32sock_peer, next to this
// program), started with the given arguments.
struct Peer {
  PROCESS_INFORMATION pi{};
  bool started = false;
  explicit Peer(const std::string &args) {
    char path[MAX_PATH];
    DWORD len = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string dir(path, len);
    dir = dir.substr(0, dir.find_last_of("\\/") + 1);
    std::string cmd = "\"" + dir + TALVOR_W32SOCK_PEER + "\" " + args;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
  }
  // Its exit code, or -1 when it did not end within a minute.
  long finish() {
    if (!started || WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    return static_cast<long>(code);
  }
  ~Peer() {
    if (!started) return;
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
};

}  // namespace

// ---- connecting ----

TEST(W32Connect, RefusedPortGivesNullAfterItsAttempts) {
  RefusingPort p;
  ASSERT_GT(p.port, 0);
  EXPECT_EQ(socket_t::connect(p.address().c_str(), socket_t::sock_global_domain, 3, 1), nullptr);

  // The object the factory deletes says why.
  w32_socket s(p.address().c_str());
  EXPECT_EQ(s.connect(3, 1), 0);
  EXPECT_EQ(s.get_err(), w32_socket::connection_failed);
  EXPECT_EQ(error_text(&s), "exceed limit of attempts of connection to server");
}

TEST(W32Connect, AddressesThatCannotBeUsedGiveNull) {
  // A DNS label holds at most 63 characters and .invalid never resolves, so
  // this fails the same on every machine without asking a name server.
  const std::string unresolvable = std::string(64, 'x') + ".invalid:20000";
  const std::string long_host = std::string(256, 'h') + ":20000";
  const struct {
    const char *what;
    std::string address;
  } cases[] = {
      {"name that cannot resolve", unresolvable},
      {"no colon", "127.0.0.1"},
      {"256-character host", long_host},
      {"letters after the colon", "127.0.0.1:abc"},
      {"port beyond 16 bits", "127.0.0.1:70000"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(socket_t::connect(c.address.c_str(), socket_t::sock_global_domain, 3, 1), nullptr);
    w32_socket s(c.address.c_str());
    EXPECT_EQ(s.connect(3, 1), 0);
    EXPECT_EQ(s.get_err(), w32_socket::bad_address);
    EXPECT_EQ(error_text(&s), "bad address");
  }
}

// With the any domain, localhost means a local (shared-memory) socket even
// where a TCP listener has the port; the global domain takes TCP.
TEST(W32Connect, LocalhostGoesLocalInTheAnyDomainOnly) {
  std::unique_ptr<socket_t> l(socket_t::create_global("localhost:0"));
  ASSERT_TRUE(l->is_ok()) << error_text(l.get());
  const std::string addr = "localhost:" + std::to_string(bound_port(l.get()));
  std::unique_ptr<socket_t> tcp(socket_t::connect(addr.c_str(), socket_t::sock_global_domain, 1, 0));
  EXPECT_NE(tcp, nullptr);
  EXPECT_EQ(socket_t::connect(addr.c_str(), socket_t::sock_any_domain, 1, 0), nullptr);
}

TEST(W32Connect, LocalListenerNamesItsEventsAndArea) {
  const std::string addr = "localhost:" + std::to_string(20000 + GetCurrentProcessId() % 20000);
  std::unique_ptr<socket_t> l(socket_t::create_local(addr.c_str()));
  ASSERT_TRUE(l->is_ok()) << error_text(l.get());
  for (const char *suffix : {".0", ".1", ".2", ".3"}) {
    HANDLE e = OpenEventA(EVENT_ALL_ACCESS, FALSE, (addr + suffix).c_str());
    EXPECT_NE(e, nullptr) << suffix;
    if (e) CloseHandle(e);
  }
  HANDLE m = OpenFileMappingA(FILE_MAP_READ, FALSE, (addr + ".shr").c_str());
  ASSERT_NE(m, nullptr);
  MEMORY_BASIC_INFORMATION info;
  void *view = MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0);
  ASSERT_NE(view, nullptr);
  ASSERT_NE(VirtualQuery(view, &info, sizeof(info)), 0u);
  EXPECT_GE(info.RegionSize, 16384u);
  UnmapViewOfFile(view);
  CloseHandle(m);
}

// ---- reading and writing over loopback TCP ----

TEST(W32Tcp, ExactReadsAndWritesBothWays) {
  TcpPair p;
  ASSERT_TRUE(p.ok());
  const std::vector<char> out = pattern(300000, 1), back = pattern(70000, 2);
  // The writer runs apart: both directions exceed what the system buffers.
  auto writer = std::async(std::launch::async, [&] { return p.client->write(out.data(), out.size()); });
  std::vector<char> in(out.size());
  ASSERT_EQ(p.server->read(in.data(), in.size()), 1) << error_text(p.server.get());
  EXPECT_EQ(writer.get(), 1);
  EXPECT_EQ(in, out);

  ASSERT_EQ(p.server->write(back.data(), back.size()), 1);
  std::vector<char> got(back.size());
  ASSERT_EQ(p.client->read(got.data(), got.size()), 1);
  EXPECT_EQ(got, back);
}

TEST(W32Tcp, QueueLeavesInOneFlushAndAnEmptyFlushSendsNothing) {
  TcpPair p;
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p.client->buffered_write("abc", 3), 3);
  EXPECT_EQ(p.client->buffered_write("defg", 4), 4);
  EXPECT_EQ(p.client->buffer_size, 7);
  p.client->buffered_flush();
  EXPECT_TRUE(p.client->is_ok());
  EXPECT_EQ(p.client->buffer, nullptr);
  EXPECT_EQ(p.client->buffer_size, 0);
  p.client->buffered_flush();  // nothing queued: no zero-byte write, no error
  EXPECT_TRUE(p.client->is_ok()) << error_text(p.client.get());
  char buf[7];
  ASSERT_EQ(p.server->read(buf, 7), 1);
  EXPECT_EQ(std::string(buf, 7), "abcdefg");
}

TEST(W32Tcp, PeerThatClosesIsABrokenConnection) {
  TcpPair p;
  ASSERT_TRUE(p.ok());
  ASSERT_EQ(p.client->write("ab", 2), 1);
  p.client.reset();
  char buf[4];
  EXPECT_EQ(p.server->read(buf, 4), 0);
  EXPECT_EQ(p.server->get_err(), w32_socket::broken_pipe);
  EXPECT_EQ(error_text(p.server.get()), "connection is broken");
}

TEST(W32Tcp, TimedReadReturnsWhatCameWhenTheWaitEnds) {
  TcpPair p;
  ASSERT_TRUE(p.ok());
  ASSERT_EQ(p.client->write("xyz", 3), 1);
  char buf[10];
  EXPECT_EQ(p.server->read(buf, 10, 10, 1), 3);
  EXPECT_TRUE(p.server->is_ok());
  EXPECT_EQ(std::string(buf, 3), "xyz");
  // Nothing at all within the wait: 0 bytes, still no error.
  EXPECT_EQ(p.server->read(buf, 1, 10, 1), 0);
  EXPECT_TRUE(p.server->is_ok());
  // A read without limit returns as soon as the minimum is there.
  ASSERT_EQ(p.client->write("12345", 5), 1);
  long got = p.server->read(buf, 5, 10, -1);
  EXPECT_EQ(got, 5);
}

TEST(W32Tcp, ClosedSocketQueuesButCannotSend) {
  TcpPair p;
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p.client->close(), 1);
  EXPECT_EQ(p.client->buffered_write("abc", 3), 3);
  p.client->buffered_flush();
  EXPECT_EQ(p.client->get_err(), w32_socket::not_opened);
  EXPECT_EQ(p.client->buffer, nullptr);
  char c;
  EXPECT_EQ(p.client->read(&c, 1), 0);
  EXPECT_EQ(p.client->read(&c, 1, 1, 1), -1);
  EXPECT_EQ(p.client->write("a", 1), 0);
  EXPECT_EQ(error_text(p.client.get()), "socket not opened");
  // A second close releases what was queued meanwhile.
  EXPECT_EQ(p.client->buffered_write("d", 1), 1);
  EXPECT_EQ(p.client->close(), 1);
  EXPECT_EQ(p.client->buffer, nullptr);
  EXPECT_EQ(p.client->buffer_size, 0);
}

TEST(W32Tcp, ShutdownEndsTheConnectionForThePeer) {
  TcpPair p;
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p.client->shutdown(), 1);
  char c;
  EXPECT_EQ(p.server->read(&c, 1), 0);
  EXPECT_EQ(p.server->get_err(), w32_socket::broken_pipe);
  EXPECT_EQ(p.client->write("a", 1), 0);
  EXPECT_EQ(p.client->get_err(), w32_socket::not_opened);
}

// ---- the listener ----

TEST(W32Listener, AcceptTimesOutWithoutError) {
  std::unique_ptr<socket_t> l(socket_t::create_global("localhost:0"));
  ASSERT_TRUE(l->is_ok());
  EXPECT_EQ(l->accept(1), nullptr);
  EXPECT_TRUE(l->is_ok());
}

TEST(W32Listener, CancelAcceptWakesABlockedAccept) {
  std::unique_ptr<socket_t> l(socket_t::create_global("localhost:0"));
  ASSERT_TRUE(l->is_ok());
  const std::string addr = "127.0.0.1:" + std::to_string(bound_port(l.get()));
  std::atomic<bool> entering{false};
  auto acceptor = std::async(std::launch::async, [&] {
    entering = true;
    return l->accept(-1);
  });
  while (!entering) std::this_thread::yield();
  // Give the thread a moment to block inside accept. Were it not there yet,
  // accept would find the listener cancelled and return null just the same,
  // so this pause cannot make the test fail, only weaker.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(l->cancel_accept(), 1);
  ASSERT_EQ(acceptor.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "accept was not woken";
  EXPECT_EQ(acceptor.get(), nullptr);
  // The listener is closed: nobody is accepted there any more.
  EXPECT_EQ(socket_t::connect(addr.c_str(), socket_t::sock_global_domain, 1, 0), nullptr);
  EXPECT_EQ(l->accept(0), nullptr);
  EXPECT_EQ(l->get_err(), w32_socket::not_opened);
}

// ---- error texts ----

TEST(W32ErrorText, LibraryCodes) {
  const struct {
    long code;
    const char *text;
  } cases[] = {
      {0, "ok"},
      {-1, "socket not opened"},
      {-2, "bad address"},
      {-3, "exceed limit of attempts of connection to server"},
      {-4, "connection is broken"},
      {-5, "invalid access mode"},
  };
  for (const auto &c : cases) {
    ProbeSocket s(c.code);
    EXPECT_EQ(error_text(&s), c.text) << c.code;
  }
  const struct {
    long code;
    const char *text;
  } local_cases[] = {
      {0, "ok"},
      {-1, "socket not opened"},
      {-2, "connection is broken"},
      {-3, "connection timeout expired"},
  };
  for (const auto &c : local_cases) {
    ProbeLocalSocket s(c.code);
    EXPECT_EQ(error_text(&s), c.text) << c.code;
  }
}

TEST(W32ErrorText, CopiedWithStrncpySemantics) {
  ProbeSocket s(w32_socket::bad_address);
  char buf[8];
  memset(buf, '#', sizeof(buf));
  s.get_error_text(buf, 5);
  EXPECT_EQ(std::string(buf, 6), "bad a#");  // five bytes, no NUL
}

TEST(W32ErrorText, SystemErrorIsAnnouncedOnStandardOutput) {
  ProbeSocket s(WSAECONNRESET);
  testing::internal::CaptureStdout();
  std::string text = error_text(&s);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "system error occurred\n");
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.rfind("unknown error code", 0), 0u) << text;

  // The local socket gives the system's text without the line.
  ProbeLocalSocket l(WSAECONNRESET);
  testing::internal::CaptureStdout();
  std::string local_text = error_text(&l);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(local_text, text);
}

TEST(W32ErrorText, NumberWithoutSystemTextIsNamedByItsNumber) {
  ProbeSocket s(0x2fffabcd);
  testing::internal::CaptureStdout();
  std::string text = error_text(&s);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(text, "unknown error code " + std::to_string(0x2fffabcdu));
}

TEST(W32Process, NameIsHostAndHexadecimalProcessId) {
  char host[256];
  ASSERT_EQ(gethostname(host, sizeof(host)), 0);
  char pid[16];
  snprintf(pid, sizeof(pid), "%x", static_cast<unsigned>(GetCurrentProcessId()));
  EXPECT_EQ(std::string(get_process_name()), std::string(host) + ":" + pid);
}

// ---- local sockets between two processes ----

TEST(W32Local, DataBothWaysAcrossTheRingsWrapAround) {
  const std::string addr = unique_local_address();
  std::unique_ptr<socket_t> l(socket_t::create_local(addr.c_str()));
  ASSERT_TRUE(l->is_ok()) << error_text(l.get());
  // Three times round the 8176-byte ring and some more, each way.
  const size_t n = 3 * w32_local_channel::ring_size + 1000;
  Peer peer("echo " + addr + " " + std::to_string(n));
  ASSERT_TRUE(peer.started);
  std::unique_ptr<socket_t> s(l->accept(60));
  ASSERT_NE(s, nullptr) << error_text(l.get());
  EXPECT_TRUE(l->is_ok());

  // Pieces of growing, uneven sizes, so the ring's end falls inside pieces
  // as well as between them.
  const std::vector<char> out = pattern(n, 3);
  size_t off = 0;
  for (size_t piece = 1; off < n; piece = piece * 3 + 5) {
    size_t k = piece < n - off ? piece : n - off;
    ASSERT_EQ(s->write(out.data() + off, k), 1) << error_text(s.get());
    off += k;
  }
  // Back: half with exact reads, the rest with timed reads.
  std::vector<char> in(n);
  ASSERT_EQ(s->read(in.data(), n / 2), 1) << error_text(s.get());
  size_t got = n / 2;
  while (got < n) {
    long r = s->read(in.data() + got, 1, n - got, 30);
    ASSERT_GT(r, 0) << error_text(s.get());
    got += static_cast<size_t>(r);
  }
  EXPECT_EQ(in, out);
  ASSERT_EQ(s->write("q", 1), 1);
  EXPECT_EQ(peer.finish(), 0);
}

TEST(W32Local, PeerThatExitsIsNoticed) {
  const std::string addr = unique_local_address();
  std::unique_ptr<socket_t> l(socket_t::create_local(addr.c_str()));
  ASSERT_TRUE(l->is_ok()) << error_text(l.get());
  Peer peer("exit " + addr);
  ASSERT_TRUE(peer.started);
  std::unique_ptr<socket_t> s(l->accept(60));
  ASSERT_NE(s, nullptr) << error_text(l.get());
  char c = 0;
  ASSERT_EQ(s->read(&c, 1), 1) << error_text(s.get());
  EXPECT_EQ(c, 'x');
  // The peer wrote its byte and ended without closing anything.
  EXPECT_EQ(s->read(&c, 1), 0);
  EXPECT_EQ(s->get_err(), w32_local_socket::broken_pipe);
  EXPECT_EQ(error_text(s.get()), "connection is broken");
  EXPECT_EQ(s->read(&c, 1, 1, 30), -1);
  EXPECT_EQ(s->get_err(), w32_local_socket::broken_pipe);
  EXPECT_EQ(peer.finish(), 0);
}

TEST(W32Local, ConnectWithoutListenerFails) {
  EXPECT_EQ(socket_t::connect(unique_local_address().c_str(), socket_t::sock_local_domain, 1, 0), nullptr);
}

TEST(W32Local, ConnectGivesUpWhenNobodyAccepts) {
  const std::string addr = unique_local_address();
  std::unique_ptr<socket_t> l(socket_t::create_local(addr.c_str()));
  ASSERT_TRUE(l->is_ok()) << error_text(l.get());
  w32_local_socket s(addr.c_str());
  EXPECT_EQ(s.connect(1, 1), 0);
  EXPECT_EQ(s.get_err(), w32_local_socket::timeout_expired);
  EXPECT_EQ(error_text(&s), "connection timeout expired");
}

TEST(W32Local, CancelAcceptWakesABlockedAccept) {
  const std::string addr = unique_local_address();
  std::unique_ptr<socket_t> l(socket_t::create_local(addr.c_str()));
  ASSERT_TRUE(l->is_ok()) << error_text(l.get());
  std::atomic<bool> entering{false};
  auto acceptor = std::async(std::launch::async, [&] {
    entering = true;
    return l->accept(-1);
  });
  while (!entering) std::this_thread::yield();
  // As with TCP: were accept not blocked yet, it would find the listener
  // cancelled and return null all the same.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(l->cancel_accept(), 1);
  ASSERT_EQ(acceptor.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "accept was not woken";
  EXPECT_EQ(acceptor.get(), nullptr);
  EXPECT_EQ(l->get_err(), w32_local_socket::not_opened);
  // The permit accept handed out is taken back: a late connecting side
  // does not start a hand-over nobody answers.
  w32_local_socket late(addr.c_str());
  EXPECT_EQ(late.connect(1, 1), 0);
  EXPECT_EQ(late.get_err(), w32_local_socket::timeout_expired);
}

// One listener serves connections one after another, and a timed read on a
// local socket returns what came once its wait ends.
TEST(W32Local, ListenerAcceptsAgainAndTimedReadReturnsWhatCame) {
  const std::string addr = unique_local_address();
  std::unique_ptr<socket_t> l(socket_t::create_local(addr.c_str()));
  ASSERT_TRUE(l->is_ok()) << error_text(l.get());
  for (int round = 0; round < 2; round++) {
    SCOPED_TRACE(round);
    Peer peer("echo " + addr + " 3");
    ASSERT_TRUE(peer.started);
    std::unique_ptr<socket_t> s(l->accept(60));
    ASSERT_NE(s, nullptr) << error_text(l.get());
    const std::string sent = round == 0 ? "abc" : "xyz";
    ASSERT_EQ(s->write(sent.data(), 3), 1);
    char buf[10];
    long got = 0;
    // The echo may come in pieces; the last wait sees nothing more.
    for (long r; (r = s->read(buf + got, 10 - got, 10 - got, 2)) > 0;) got += r;
    EXPECT_EQ(got, 3);
    EXPECT_TRUE(s->is_ok()) << error_text(s.get());
    EXPECT_EQ(std::string(buf, static_cast<size_t>(got)), sent);
    ASSERT_EQ(s->write("q", 1), 1);
    EXPECT_EQ(peer.finish(), 0);
  }
}

TEST(W32Local, ClosedLocalSocketIsNotOpened) {
  const std::string addr = unique_local_address();
  std::unique_ptr<socket_t> l(socket_t::create_local(addr.c_str()));
  ASSERT_TRUE(l->is_ok()) << error_text(l.get());
  EXPECT_EQ(l->close(), 1);
  EXPECT_EQ(l->get_err(), w32_local_socket::not_opened);
  EXPECT_EQ(l->accept(0), nullptr);
  EXPECT_EQ(error_text(l.get()), "socket not opened");
  // Its named objects are gone with it.
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, (addr + ".shr").c_str()), nullptr);
  EXPECT_EQ(l->close(), 1);
}

// The roles the other way round: this process connects to a listener in the
// other one, and a writer that finds the ring full notices the peer's end.
TEST(W32Local, ConnectToAnotherProcessAndWriterNoticesItsEnd) {
  const std::string addr = unique_local_address();
  const size_t n = w32_local_channel::ring_size + 500;
  Peer peer("serve " + addr + " " + std::to_string(n));
  ASSERT_TRUE(peer.started);
  // The listener's objects exist only once the other process has opened
  // it; until then a connect finds nothing and fails at once.
  std::unique_ptr<socket_t> s;
  for (int i = 0; i < 240 && !s; i++) {
    s.reset(socket_t::connect(addr.c_str(), socket_t::sock_local_domain, 30, 1));
    if (!s) Sleep(250);
  }
  ASSERT_NE(s, nullptr);
  const std::vector<char> out = pattern(n, 5);
  ASSERT_EQ(s->write(out.data(), n), 1) << error_text(s.get());
  std::vector<char> in(n);
  ASSERT_EQ(s->read(in.data(), n), 1) << error_text(s.get());
  EXPECT_EQ(in, out);
  // The peer reads no more and ends: more than the ring holds cannot go.
  const std::vector<char> more = pattern(2 * w32_local_channel::ring_size, 6);
  EXPECT_EQ(s->write(more.data(), more.size()), 0);
  EXPECT_EQ(s->get_err(), w32_local_socket::broken_pipe);
  EXPECT_EQ(peer.finish(), 0);
}
