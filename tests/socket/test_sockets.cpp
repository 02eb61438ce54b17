// The POSIX socket library over real loopback TCP and Unix-domain
// connections: addresses, connection attempts, reads and writes, the output
// queue, closing and the listener side.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "socket/loopback_pair.h"
#include "support/test_os.h"
#include "unisock.h"

using talvortest::bound_port;
using talvortest::LoopbackPair;
using talvortest::Transport;
using talvortest::unique_local_address;

namespace {

std::string error_text(socket_t *s) {
  char buf[256];
  memset(buf, 0, sizeof(buf));
  s->get_error_text(buf, sizeof(buf) - 1);
  return buf;
}

bool file_exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int open_descriptors() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

int socket_family(socket_t *s) {
  sockaddr_storage ss{};
  socklen_t len = sizeof(ss);
  if (getsockname(static_cast<int>(s->MyGetActual()), reinterpret_cast<sockaddr *>(&ss), &len) != 0)
    return -1;
  return ss.ss_family;
}

// An address whose TCP port nobody listens on: a port just released.
std::string refused_tcp_address() {
  std::unique_ptr<socket_t> l(socket_t::create_global("localhost:0"));
  return "127.0.0.1:" + std::to_string(bound_port(l.get()));
}

class SocketTest : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(Transports, SocketTest,
                         ::testing::Values(Transport::tcp, Transport::unix_domain),
                         [](const ::testing::TestParamInfo<Transport> &i) {
                           return talvortest::transport_name(i.param);
                         });

}  // namespace

// ---- addresses ----

struct BadAddressCase {
  const char *what;
  std::string address;  // "<null>" stands for a null pointer
  socket_t::socket_domain domain;
};

TEST(SocketAddress, MalformedAddressesAreBadAddress) {
  const std::string long_host(256, 'h');
  // /tmp/ (5) + 103 characters no longer fits a Unix-domain socket path.
  const std::string long_path = std::string(98, 'p') + ":1234";
  const BadAddressCase cases[] = {
      {"no colon", "localhost", socket_t::sock_global_domain},
      {"no colon, local", "localhost", socket_t::sock_local_domain},
      {"256-character host", long_host + ":20000", socket_t::sock_global_domain},
      {"256-character host, local", long_host + ":20000", socket_t::sock_local_domain},
      {"letters after the colon", "localhost:abc", socket_t::sock_global_domain},
      {"nothing after the colon", "localhost:", socket_t::sock_any_domain},
      {"sign before the port", "localhost:-1", socket_t::sock_global_domain},
      {"port beyond 16 bits", "localhost:70000", socket_t::sock_global_domain},
      {"null address", "<null>", socket_t::sock_global_domain},
      {"null address, local", "<null>", socket_t::sock_local_domain},
      {"Unix path too long", long_path, socket_t::sock_local_domain},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const char *addr = c.address == "<null>" ? nullptr : c.address.c_str();
    std::unique_ptr<socket_t> s(socket_t::connect(addr, c.domain, 3, 1));
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->is_ok());
    EXPECT_EQ(s->get_err(), unix_socket::bad_address);
    EXPECT_EQ(error_text(s.get()), "bad address");

    std::unique_ptr<socket_t> l(c.domain == socket_t::sock_local_domain
                                    ? socket_t::create_local(addr)
                                    : socket_t::create_global(addr));
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->get_err(), unix_socket::bad_address);
  }
}

// A connection resolves its host (with the any domain too, for a host that
// is not this machine); one that cannot resolve is a bad address. A listener
// binds every interface and never resolves its host.
TEST(SocketAddress, HostThatCannotResolveIsBadAddress) {
  // Fails the same on every machine, network or not: a DNS label holds at
  // most 63 characters, so the resolver cannot even encode a query for this
  // one and asks no name server; and the top-level domain .invalid is
  // reserved never to resolve, so no hosts file or resolver answers it.
  const std::string host = std::string(64, 'x') + ".invalid";
  for (socket_t::socket_domain domain : {socket_t::sock_global_domain, socket_t::sock_any_domain}) {
    SCOPED_TRACE(domain == socket_t::sock_global_domain ? "global domain" : "any domain");
    std::unique_ptr<socket_t> s(socket_t::connect((host + ":20000").c_str(), domain, 3, 1));
    ASSERT_NE(s, nullptr);
    EXPECT_FALSE(s->is_ok());
    EXPECT_EQ(s->get_err(), unix_socket::bad_address);
    EXPECT_EQ(error_text(s.get()), "bad address");
  }
}

TEST(SocketAddress, LongestUnixPathThatFitsIsUsable) {
  // /tmp/ and 102 characters: 107 bytes plus the NUL fill the path exactly.
  std::string addr = "talvor-test-" + std::to_string(getpid()) + "-";
  addr += std::string(102 - addr.size() - 2, 'x') + ":7";
  ASSERT_EQ(addr.size(), 102u);
  std::unique_ptr<socket_t> l(socket_t::create_local(addr.c_str()));
  ASSERT_TRUE(l->is_ok()) << error_text(l.get());
  std::unique_ptr<socket_t> c(socket_t::connect(addr.c_str(), socket_t::sock_local_domain, 1, 0));
  EXPECT_TRUE(c->is_ok()) << error_text(c.get());
}

TEST(SocketAddress, TextAfterThePortIsIgnored) {
  std::unique_ptr<socket_t> l(socket_t::create_global("localhost:0"));
  ASSERT_TRUE(l->is_ok());
  std::string addr = "127.0.0.1:" + std::to_string(bound_port(l.get())) + "xyz:5";
  std::unique_ptr<socket_t> c(socket_t::connect(addr.c_str(), socket_t::sock_global_domain, 1, 0));
  EXPECT_TRUE(c->is_ok()) << error_text(c.get());
}

TEST(SocketAddress, ThisHostWithAnyDomainUsesTheUnixSocket) {
  utsname u;
  ASSERT_EQ(uname(&u), 0);
  const std::string port = std::to_string(30000 + getpid() % 30000);
  for (std::string host : {std::string("localhost"), std::string(u.nodename)}) {
    SCOPED_TRACE(host);
    const std::string addr = host + ":" + port;
    const std::string path = std::string(unix_socket::unix_socket_dir) + addr;
    {
      std::unique_ptr<socket_t> l(socket_t::create_local(addr.c_str()));
      ASSERT_TRUE(l->is_ok()) << error_text(l.get());
      EXPECT_TRUE(file_exists(path));
      std::unique_ptr<socket_t> c(socket_t::connect(addr.c_str(), socket_t::sock_any_domain, 1, 0));
      ASSERT_TRUE(c->is_ok()) << error_text(c.get());
      EXPECT_EQ(socket_family(c.get()), AF_UNIX);
      std::unique_ptr<socket_t> a(l->accept(10));
      ASSERT_NE(a, nullptr);
      ASSERT_EQ(c->write("hi", 2), 1);
      char buf[2];
      ASSERT_EQ(a->read(buf, 2), 1);
      EXPECT_EQ(std::string(buf, 2), "hi");
    }
    // The listener created the file, so deleting it removes the file.
    EXPECT_FALSE(file_exists(path));
  }
}

TEST(SocketAddress, LocalhostWithGlobalDomainUsesTcp) {
  std::unique_ptr<socket_t> l(socket_t::create_global("localhost:0"));
  ASSERT_TRUE(l->is_ok());
  std::string addr = "localhost:" + std::to_string(bound_port(l.get()));
  std::unique_ptr<socket_t> c(socket_t::connect(addr.c_str(), socket_t::sock_global_domain, 1, 0));
  ASSERT_TRUE(c->is_ok()) << error_text(c.get());
  EXPECT_EQ(socket_family(c.get()), AF_INET);
}

TEST(SocketAddress, ListenerReplacesAStaleFile) {
  const std::string addr = unique_local_address();
  const std::string path = std::string(unix_socket::unix_socket_dir) + addr;
  int f = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(f, 0);
  ::close(f);
  std::unique_ptr<socket_t> l(socket_t::create_local(addr.c_str()));
  EXPECT_TRUE(l->is_ok()) << error_text(l.get());
  l.reset();
  EXPECT_FALSE(file_exists(path));
}

// ---- error texts ----

TEST(SocketErrorText, TextIsCutLikeStrncpy) {
  std::unique_ptr<socket_t> s(socket_t::connect("nocolon", socket_t::sock_global_domain, 1, 0));
  char buf[8];
  memset(buf, 'X', sizeof(buf));
  s->get_error_text(buf, 5);
  EXPECT_EQ(std::string(buf, 5), "bad a");
  EXPECT_EQ(buf[5], 'X');  // nothing beyond buf_size, and no NUL

  memset(buf, 'X', sizeof(buf));
  s->get_error_text(buf, 0);
  EXPECT_EQ(buf[0], 'X');
}

TEST(SocketErrorText, OkAndNotOpened) {
  unix_socket never_opened("localhost:1", socket_t::sock_global_domain);
  EXPECT_TRUE(never_opened.is_ok());
  EXPECT_EQ(error_text(&never_opened), "ok");
  char c;
  EXPECT_EQ(never_opened.read(&c, 1), 0);
  EXPECT_EQ(never_opened.get_err(), unix_socket::not_opened);
  EXPECT_EQ(error_text(&never_opened), "socket not opened");
  EXPECT_EQ(never_opened.read(&c, 1, 1, 0), -1);
  EXPECT_EQ(never_opened.get_err(), unix_socket::not_opened);
  EXPECT_EQ(never_opened.write("x", 1), 0);
  EXPECT_EQ(never_opened.get_err(), unix_socket::not_opened);
  EXPECT_EQ(never_opened.accept(0), nullptr);
  EXPECT_EQ(never_opened.get_err(), unix_socket::not_opened);
}

// ---- connection attempts ----

struct RefusedCase {
  long attempts;
  time_t timeout;
};

TEST(SocketConnect, RefusedConnectionUsesUpItsAttempts) {
  const std::string tcp = refused_tcp_address();
  const std::string local = unique_local_address();  // no such file: ENOENT
  // 0 attempts still makes one; a pause of 1 second falls between attempts.
  const RefusedCase cases[] = {{1, 0}, {0, 0}, {3, 0}, {3, 1}};
  for (const auto &c : cases) {
    for (int is_local = 0; is_local < 2; ++is_local) {
      SCOPED_TRACE(std::to_string(c.attempts) + " attempts, timeout " + std::to_string(c.timeout) +
                   (is_local ? ", Unix" : ", TCP"));
      if (c.timeout > 0 && is_local) continue;  // one slow case is enough
      std::unique_ptr<socket_t> s(socket_t::connect(
          is_local ? local.c_str() : tcp.c_str(),
          is_local ? socket_t::sock_local_domain : socket_t::sock_global_domain, c.attempts,
          c.timeout));
      EXPECT_FALSE(s->is_ok());
      EXPECT_EQ(s->get_err(), unix_socket::connection_failed);
      EXPECT_EQ(error_text(s.get()), "exceed limit of attempts of connection to server");
    }
  }
}

TEST(SocketConnect, OtherErrorsAreNotRetried) {
  // A path through a regular file fails with ENOTDIR, which is not retried:
  // the system's error stays instead of the attempts-exceeded code.
  const std::string file_name = "talvor-test-" + std::to_string(getpid()) + "-file";
  const std::string file_path = std::string(unix_socket::unix_socket_dir) + file_name;
  int f = ::open(file_path.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(f, 0);
  ::close(f);
  const std::string addr = file_name + "/x:1";
  std::unique_ptr<socket_t> s(socket_t::connect(addr.c_str(), socket_t::sock_local_domain, 3, 100));
  EXPECT_EQ(s->get_err(), ENOTDIR);
  EXPECT_EQ(error_text(s.get()), strerror(ENOTDIR));
  unlink(file_path.c_str());
}

TEST(SocketConnect, TcpConnectionsHaveNoDelay) {
  LoopbackPair p(Transport::tcp);
  ASSERT_TRUE(p.ok());
  for (socket_t *s : {p.client, p.server}) {
    int on = 0;
    socklen_t len = sizeof(on);
    ASSERT_EQ(getsockopt(static_cast<int>(s->MyGetActual()), IPPROTO_TCP, TCP_NODELAY, &on, &len),
              0);
    EXPECT_NE(on, 0);
  }
}

TEST(SocketLibrary, SigpipeIsIgnoredAtLoad) {
  struct sigaction current;
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
  EXPECT_EQ(current.sa_handler, SIG_IGN);
}

// ---- reads and writes ----

TEST_P(SocketTest, ExactReadAndWriteMoveAllBytes) {
  LoopbackPair p(GetParam());
  ASSERT_TRUE(p.ok());
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  // The writer may block on a full buffer, so it runs beside the reader.
  auto writer = std::async(std::launch::async, [&] { return p.client->write(big.data(), big.size()); });
  std::string got(big.size(), '\0');
  EXPECT_EQ(p.server->read(&got[0], got.size()), 1);
  ASSERT_EQ(writer.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(writer.get(), 1);
  EXPECT_EQ(got, big);
  EXPECT_TRUE(p.server->is_ok());
}

TEST_P(SocketTest, PeerThatClosesBreaksTheConnection) {
  LoopbackPair p(GetParam());
  ASSERT_TRUE(p.ok());
  ASSERT_EQ(p.client->write("abc", 3), 1);
  delete p.client;
  p.client = nullptr;

  char buf[8];
  EXPECT_EQ(p.server->read(buf, 5), 0);  // 3 bytes came, then the end
  EXPECT_EQ(p.server->get_err(), unix_socket::broken_pipe);
  EXPECT_EQ(error_text(p.server), "connection is broken");

  EXPECT_EQ(p.server->read(buf, 1, 8, 1), -1);
  EXPECT_EQ(p.server->get_err(), unix_socket::broken_pipe);

  // Writing to the closed peer fails with an error instead of a signal.
  int result = 1;
  for (int i = 0; i < 50 && result == 1; ++i) result = p.server->write(buf, sizeof(buf));
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(p.server->get_err() == EPIPE || p.server->get_err() == ECONNRESET)
      << p.server->get_err();
}

TEST_P(SocketTest, TimedReadReturnsWhatArrivedWhenTheWaitEnds) {
  LoopbackPair p(GetParam());
  ASSERT_TRUE(p.ok());
  // A write of no bytes reports a broken connection; that code must survive
  // the timed-out reads below.
  EXPECT_EQ(p.client->write("", 0), 0);
  EXPECT_EQ(p.client->get_err(), unix_socket::broken_pipe);

  char buf[16];
  EXPECT_EQ(p.client->read(buf, 1, sizeof(buf), 0), 0);
  EXPECT_EQ(p.client->get_err(), unix_socket::broken_pipe);

  ASSERT_EQ(p.server->write("xyz", 3), 1);
  EXPECT_EQ(p.client->read(buf, 10, sizeof(buf), 1), 3);
  EXPECT_EQ(std::string(buf, 3), "xyz");
  EXPECT_EQ(p.client->get_err(), unix_socket::broken_pipe);
}

TEST_P(SocketTest, TimedReadStopsAtMinSizeAndNeverPassesMaxSize) {
  LoopbackPair p(GetParam());
  ASSERT_TRUE(p.ok());
  ASSERT_EQ(p.server->write("0123456789", 10), 1);
  char buf[16];
  memset(buf, '#', sizeof(buf));
  long n = p.client->read(buf, 4, 6, 5);
  EXPECT_GE(n, 4);
  EXPECT_LE(n, 6);
  EXPECT_EQ(buf[6], '#');
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), std::string("0123456789", n));
  // The rest waits for the next read, without limit (-1).
  long rest = p.client->read(buf + n, 10 - n, 10 - n, -1);
  EXPECT_EQ(rest, 10 - n);
  EXPECT_EQ(std::string(buf, 10), "0123456789");
  EXPECT_TRUE(p.client->is_ok());
}

// ---- the output queue ----

TEST_P(SocketTest, FlushSendsTheWholeQueueAndEmptiesIt) {
  LoopbackPair p(GetParam());
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p.client->buffered_write("head-", 5), 5);
  EXPECT_EQ(p.client->buffered_write("body-", 5), 5);
  EXPECT_EQ(p.client->buffered_write("tail", 4), 4);
  EXPECT_EQ(p.client->buffer_size, 14);
  // Queueing sends nothing.
  char buf[32];
  EXPECT_EQ(p.server->read(buf, 1, sizeof(buf), 0), 0);

  p.client->buffered_flush();
  EXPECT_TRUE(p.client->is_ok());
  EXPECT_EQ(p.client->buffer, nullptr);
  EXPECT_EQ(p.client->buffer_size, 0);
  EXPECT_EQ(p.server->read(buf, 14, sizeof(buf), 5), 14);
  EXPECT_EQ(std::string(buf, 14), "head-body-tail");

  // Flushing an empty queue sends nothing and is no error.
  p.client->buffered_flush();
  EXPECT_TRUE(p.client->is_ok());
  EXPECT_EQ(p.server->read(buf, 1, sizeof(buf), 0), 0);
}

TEST(SocketQueue, FailedAppendKeepsTheQueue) {
  unix_socket s("localhost:1", socket_t::sock_global_domain);
  ASSERT_EQ(s.buffered_write("abc", 3), 3);
  EXPECT_EQ(s.buffered_write("def", static_cast<size_t>(-1)), -1);
  ASSERT_EQ(s.buffer_size, 3);
  EXPECT_EQ(std::string(s.buffer, 3), "abc");
  EXPECT_EQ(s.buffered_write("de", 2), 2);
  EXPECT_EQ(std::string(s.buffer, static_cast<size_t>(s.buffer_size)), "abcde");
}

TEST_P(SocketTest, QueueOnAClosedSocketFailsToFlushAndIsEmptied) {
  LoopbackPair p(GetParam());
  ASSERT_TRUE(p.ok());
  ASSERT_EQ(p.client->close(), 1);
  EXPECT_EQ(p.client->buffered_write("lost", 4), 4);
  EXPECT_EQ(p.client->buffer_size, 4);
  p.client->buffered_flush();
  EXPECT_EQ(p.client->get_err(), unix_socket::not_opened);
  EXPECT_EQ(error_text(p.client), "socket not opened");
  EXPECT_EQ(p.client->buffer, nullptr);
  EXPECT_EQ(p.client->buffer_size, 0);
}

// ---- closing ----

TEST_P(SocketTest, CloseTwiceReleasesTheQueueTheSecondTime) {
  LoopbackPair p(GetParam());
  ASSERT_TRUE(p.ok());
  ASSERT_EQ(p.client->buffered_write("abc", 3), 3);
  EXPECT_EQ(p.client->close(), 1);
  EXPECT_TRUE(p.client->is_ok());
  EXPECT_EQ(p.client->buffer_size, 3);  // kept by the first close
  EXPECT_EQ(p.client->close(), 1);
  EXPECT_TRUE(p.client->is_ok());
  EXPECT_EQ(p.client->buffer, nullptr);
  EXPECT_EQ(p.client->buffer_size, 0);
  // The peer saw the end of the connection.
  char c;
  EXPECT_EQ(p.server->read(&c, 1), 0);
  EXPECT_EQ(p.server->get_err(), unix_socket::broken_pipe);
}

TEST_P(SocketTest, ShutdownEndsBothDirectionsAndDropsTheQueue) {
  LoopbackPair p(GetParam());
  ASSERT_TRUE(p.ok());
  ASSERT_EQ(p.client->buffered_write("abc", 3), 3);
  EXPECT_EQ(p.client->shutdown(), 1);
  EXPECT_EQ(p.client->buffer_size, 0);
  char c;
  EXPECT_EQ(p.client->read(&c, 1), 0);
  EXPECT_EQ(p.client->get_err(), unix_socket::not_opened);
  EXPECT_EQ(p.server->read(&c, 1), 0);
  EXPECT_EQ(p.server->get_err(), unix_socket::broken_pipe);
  EXPECT_EQ(p.client->shutdown(), 1);  // again: nothing left to do
  EXPECT_EQ(p.client->close(), 1);
}

// ---- the listener side ----

TEST_P(SocketTest, AcceptWaitsAtMostItsTimeout) {
  LoopbackPair p(GetParam());
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p.listener->accept(0), nullptr);
  EXPECT_TRUE(p.listener->is_ok());  // a wait that ends is no error
  EXPECT_EQ(p.listener->accept(1), nullptr);
  EXPECT_TRUE(p.listener->is_ok());
}

TEST_P(SocketTest, AcceptedConnectionLingers) {
  LoopbackPair p(GetParam());
  ASSERT_TRUE(p.ok());
  linger l{};
  socklen_t len = sizeof(l);
  ASSERT_EQ(getsockopt(static_cast<int>(p.server->MyGetActual()), SOL_SOCKET, SO_LINGER, &l, &len),
            0);
  EXPECT_NE(l.l_onoff, 0);
  EXPECT_EQ(l.l_linger, 10);
}

// A child process the host starts must not inherit a connection.
TEST_P(SocketTest, DescriptorsAreCloseOnExec) {
  LoopbackPair p(GetParam());
  ASSERT_TRUE(p.ok());
  for (socket_t *s : {p.client, p.server}) {
    int flags = fcntl(static_cast<int>(s->MyGetActual()), F_GETFD);
    EXPECT_TRUE(flags & FD_CLOEXEC);
  }
}

namespace {

struct ListenerCase {
  const char *what;
  socket_t *(*make)();
};

socket_t *global_listener() { return socket_t::create_global("localhost:0"); }
socket_t *local_listener() { return socket_t::create_local(unique_local_address().c_str()); }
socket_t *any_domain_listener() {
  // Opens TCP; an any-domain connect to "localhost:..." would look for a
  // Unix-domain file instead, so waking it must use the real address.
  unix_socket *s = new unix_socket("localhost:0", socket_t::sock_any_domain);
  s->open(5);
  return s;
}

}  // namespace

TEST(SocketListener, CancelAcceptWakesABlockedAccept) {
  // The cancel must meet an accept that already waits in the kernel: one
  // that had not started yet would only show that a cancelled listener
  // refuses to accept.
  std::string why;
  if (!talvortest::blocking_calls_visible(&why)) GTEST_SKIP() << why;
  const ListenerCase cases[] = {{"global, port 0", global_listener},
                                {"local", local_listener},
                                {"any domain, port 0", any_domain_listener}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const int fds_before = open_descriptors();
    std::unique_ptr<socket_t> l(c.make());
    ASSERT_TRUE(l->is_ok()) << error_text(l.get());
    std::promise<long> waiter_id;
    std::future<long> waiter_started = waiter_id.get_future();
    auto waiter = std::async(std::launch::async, [&] {
      waiter_id.set_value(talvortest::thread_id());
      // No timeout: the accept waits in accept4 itself, not in poll.
      return l->accept(-1);
    });
    // Bounded, so that a fault fails here instead of hanging the test.
    const bool started = waiter_started.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    EXPECT_TRUE(started && talvortest::wait_until_blocked(waiter_started.get(),
                                                          talvortest::blocking_call::accept,
                                                          static_cast<int>(l->MyGetActual()), 20000))
        << "the accepting thread never blocked in accept";
    EXPECT_EQ(l->cancel_accept(), 1);
    bool woke = waiter.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(woke);
    // Bound the test even when the wake failed.
    if (!woke) ::shutdown(static_cast<int>(l->MyGetActual()), SHUT_RDWR);
    std::unique_ptr<socket_t> accepted(waiter.get());
    EXPECT_EQ(accepted, nullptr);
    EXPECT_EQ(l->get_err(), unix_socket::not_opened);
    // The listener stays cancelled.
    EXPECT_EQ(l->accept(0), nullptr);
    EXPECT_EQ(l->get_err(), unix_socket::not_opened);
    // The connection that woke the accept was taken and closed, not leaked.
    l.reset();
    EXPECT_EQ(open_descriptors(), fds_before);
  }
}

TEST(SocketListener, SecondClientGetsItsOwnConnection) {
  LoopbackPair p(Transport::tcp);
  ASSERT_TRUE(p.ok());
  std::string addr = "127.0.0.1:" + std::to_string(bound_port(p.listener));
  std::unique_ptr<socket_t> c2(socket_t::connect(addr.c_str(), socket_t::sock_global_domain, 1, 0));
  ASSERT_TRUE(c2->is_ok());
  std::unique_ptr<socket_t> s2(p.listener->accept(10));
  ASSERT_NE(s2, nullptr);
  ASSERT_EQ(c2->write("2", 1), 1);
  ASSERT_EQ(p.client->write("1", 1), 1);
  char a = 0, b = 0;
  ASSERT_EQ(s2->read(&a, 1), 1);
  ASSERT_EQ(p.server->read(&b, 1), 1);
  EXPECT_EQ(a, '2');
  EXPECT_EQ(b, '1');
}
