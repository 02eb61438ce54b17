// POSIX sockets: TCP/IPv4 and Unix-domain stream sockets behind socket_t.
#include "unisock.h"

#include <errno.h>
#include <limits.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/utsname.h>
#include <unistd.h>

const char *unix_socket::unix_socket_dir = "/tmp/";

namespace {

// Fills a Unix-domain address for unix_socket_dir + address. Returns 0 when
// the path does not fit the system's socket address.
int make_unix_address(const char *address, sockaddr_un *sa) {
  size_t dir_len = strlen(unix_socket::unix_socket_dir);
  size_t addr_len = strlen(address);
  if (dir_len + addr_len >= sizeof(sa->sun_path)) return 0;
  memset(sa, 0, sizeof(*sa));
  sa->sun_family = AF_UNIX;
  memcpy(sa->sun_path, unix_socket::unix_socket_dir, dir_len);
  memcpy(sa->sun_path + dir_len, address, addr_len + 1);
  return 1;
}

// Resolves host to its first IPv4 address. getaddrinfo is used instead of
// gethostbyname because connections may be made from several threads.
int resolve_ipv4(const char *host, unsigned short port, sockaddr_in *sa) {
  addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *res = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0 || res == nullptr) return 0;
  int found = 0;
  for (addrinfo *ai = res; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
      memcpy(sa, ai->ai_addr, sizeof(sockaddr_in));
      sa->sin_port = htons(port);
      found = 1;
      break;
    }
  }
  freeaddrinfo(res);
  return found;
}

// 1 when host names this machine: its node name or "localhost".
int is_this_host(const char *host) {
  if (strcmp(host, "localhost") == 0) return 1;
  utsname u;
  if (uname(&u) != 0) return 0;
  return strcmp(host, u.nodename) == 0;
}

// Sleeps whole seconds, resuming after signals.
void pause_seconds(time_t seconds) {
  if (seconds <= 0) return;
  timespec req;
  req.tv_sec = seconds;
  req.tv_nsec = 0;
  timespec rem;
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

// Milliseconds for poll: -1 (and any negative) waits without limit.
int poll_millis(time_t timeout) {
  if (timeout < 0) return -1;
  if (timeout > INT_MAX / 1000) return INT_MAX;
  return static_cast<int>(timeout) * 1000;
}

// Waits until fd is readable (or has a pending connection). Returns 1 when
// it is, 0 on timeout, -1 on failure with errno set.
int wait_readable(int fd, time_t timeout) {
  pollfd p;
  p.fd = fd;
  p.events = POLLIN;
  p.revents = 0;
  int rc;
  do {
    rc = poll(&p, 1, poll_millis(timeout));
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return -1;
  return rc > 0 ? 1 : 0;
}

// connect() that survives a signal: an interrupted connect goes on in the
// background, so its outcome is awaited instead of calling connect again.
// Returns 0 on success, else the error number.
int connect_fd(int fd, const sockaddr *sa, socklen_t len) {
  if (::connect(fd, sa, len) == 0) return 0;
  if (errno != EINTR) return errno;
  pollfd p;
  p.fd = fd;
  p.events = POLLOUT;
  p.revents = 0;
  int rc;
  do {
    rc = poll(&p, 1, -1);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return errno;
  int err = 0;
  socklen_t err_len = sizeof(err);
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &err_len) != 0) return errno;
  return err;
}

int set_nodelay(int fd) {
  int on = 1;
  return setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

// A server host that vanishes without closing (power loss, a cable pulled)
// sends nothing, and a read waiting for its reply would wait for ever. With
// these probes the kernel declares such a connection dead within about
// keepalive_idle + keepalive_count * keepalive_interval seconds, and the
// read fails. A server that is alive but never answers still answers the
// probes, so this bounds only the vanished host.
const int keepalive_idle = 15;      // seconds of silence before the first probe
const int keepalive_interval = 5;   // seconds between unanswered probes
const int keepalive_count = 3;      // unanswered probes that end the connection

int set_keepalive(int fd) {
  int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on)) != 0) return -1;
#ifdef TCP_KEEPIDLE
  if (setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &keepalive_idle, sizeof(keepalive_idle)) != 0 ||
      setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &keepalive_interval, sizeof(keepalive_interval)) != 0 ||
      setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &keepalive_count, sizeof(keepalive_count)) != 0)
    return -1;
#endif
  return 0;
}

}  // namespace

// ---- construction ----

unix_socket::unix_socket(const char *addr, socket_domain dom)
    : fd(-1), errcode(ok), address(nullptr), domain(dom), create_file(0) {
  if (addr != nullptr) address = strdup(addr);
}

unix_socket::unix_socket(long new_fd)
    : fd(static_cast<descriptor_t>(new_fd)),
      errcode(ok),
      address(nullptr),
      domain(sock_any_domain),
      create_file(0) {
  set_state(ss_open);
}

unix_socket::~unix_socket() {
  close();
  if (create_file && address != nullptr) {
    sockaddr_un sa;
    if (make_unix_address(address, &sa)) unlink(sa.sun_path);
  }
  discard_queue();
  free(address);
}

socket_t *socket_t::connect(const char *address, socket_domain domain, long max_attempts,
                            time_t timeout) {
  unix_socket *s = new unix_socket(address, domain);
  s->connect(max_attempts, timeout);
  return s;
}

socket_t *socket_t::create_local(const char *address, long listen_queue_size) {
  unix_socket *s = new unix_socket(address, sock_local_domain);
  s->open(listen_queue_size);
  return s;
}

socket_t *socket_t::create_global(const char *address, long listen_queue_size) {
  unix_socket *s = new unix_socket(address, sock_global_domain);
  s->open(listen_queue_size);
  return s;
}

// ---- connect and listen ----

int unix_socket::connect(long max_attempts, time_t timeout) {
  char host[socket_max_host_length + 1];
  unsigned short port;
  if (!split_socket_address(address, host, &port)) {
    errcode = bad_address;
    return 0;
  }
  create_file = 0;
  bool local = domain == sock_local_domain || (domain == sock_any_domain && is_this_host(host));

  sockaddr_un sun;
  sockaddr_in sin;
  const sockaddr *target;
  socklen_t target_len;
  if (local) {
    if (!make_unix_address(address, &sun)) {
      errcode = bad_address;
      return 0;
    }
    target = reinterpret_cast<const sockaddr *>(&sun);
    target_len = sizeof(sun);
  } else {
    if (!resolve_ipv4(host, port, &sin)) {
      errcode = bad_address;
      return 0;
    }
    target = reinterpret_cast<const sockaddr *>(&sin);
    target_len = sizeof(sin);
  }

  for (;;) {
    int s = ::socket(local ? AF_UNIX : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
      errcode = errno;
      return 0;
    }
    int err = connect_fd(s, target, target_len);
    if (err == 0) {
      if (!local && (set_nodelay(s) != 0 || set_keepalive(s) != 0)) {
        errcode = errno;
        ::close(s);
        return 0;
      }
      fd = s;
      errcode = ok;
      set_state(ss_open);
      return 1;
    }
    errcode = err;
    ::close(s);
    if (err != ENOENT && err != ECONNREFUSED) return 0;
    if (--max_attempts <= 0) {
      errcode = connection_failed;
      return 0;
    }
    pause_seconds(timeout);
  }
}

int unix_socket::open(long listen_queue_size) {
  char host[socket_max_host_length + 1];
  unsigned short port;
  if (!split_socket_address(address, host, &port)) {
    errcode = bad_address;
    return 0;
  }
  create_file = 0;

  sockaddr_un sun;
  sockaddr_in sin;
  const sockaddr *local_addr;
  socklen_t local_len;
  bool local = domain == sock_local_domain;
  if (local) {
    if (!make_unix_address(address, &sun)) {
      errcode = bad_address;
      return 0;
    }
    unlink(sun.sun_path);
    create_file = 1;
    local_addr = reinterpret_cast<const sockaddr *>(&sun);
    local_len = sizeof(sun);
  } else {
    memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    sin.sin_port = htons(port);
    local_addr = reinterpret_cast<const sockaddr *>(&sin);
    local_len = sizeof(sin);
  }

  int s = ::socket(local ? AF_UNIX : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    errcode = errno;
    return 0;
  }
  if (!local) {
    // A restarted server may take its port back while old connections linger.
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  }
  int backlog = listen_queue_size > INT_MAX ? INT_MAX : static_cast<int>(listen_queue_size);
  if (::bind(s, local_addr, local_len) != 0 || ::listen(s, backlog) != 0) {
    errcode = errno;
    ::close(s);
    return 0;
  }
  fd = s;
  errcode = ok;
  set_state(ss_open);
  return 1;
}

// ---- output queue ----

long unix_socket::buffered_write(const void *buf, size_t size) { return queue_bytes(buf, size); }

void unix_socket::buffered_flush() { flush_queue(); }

// ---- reading and writing ----

long unix_socket::read(void *buf, size_t min_size, size_t max_size, time_t timeout) {
  if (get_state() != ss_open) {
    errcode = not_opened;
    return -1;
  }
  if (min_size > max_size) min_size = max_size;
  size_t n = 0;
  char *p = static_cast<char *>(buf);
  while (n < max_size) {
    if (timeout != -1) {
      int rc = wait_readable(fd, timeout);
      if (rc < 0) {
        errcode = errno;
        return -1;
      }
      if (rc == 0) return static_cast<long>(n);
    }
    ssize_t got;
    do {
      got = ::recv(fd, p + n, max_size - n, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      errcode = errno;
      return -1;
    }
    if (got == 0) {
      errcode = broken_pipe;
      return -1;
    }
    n += static_cast<size_t>(got);
    if (n >= min_size) break;
  }
  return static_cast<long>(n);
}

int unix_socket::read(void *buf, size_t size) {
  if (get_state() != ss_open) {
    errcode = not_opened;
    return 0;
  }
  char *p = static_cast<char *>(buf);
  size_t done = 0;
  while (done < size) {
    ssize_t got;
    do {
      got = ::recv(fd, p + done, size - done, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      errcode = errno;
      return 0;
    }
    if (got == 0) {
      errcode = broken_pipe;
      return 0;
    }
    done += static_cast<size_t>(got);
  }
  return 1;
}

int unix_socket::write(const void *buf, size_t size) {
  if (get_state() != ss_open) {
    errcode = not_opened;
    return 0;
  }
  const char *p = static_cast<const char *>(buf);
  size_t done = 0;
  // One pass at least: a write of no bytes reports a broken connection.
  do {
    ssize_t put;
    do {
      put = ::send(fd, p + done, size - done, MSG_NOSIGNAL);
    } while (put < 0 && errno == EINTR);
    if (put < 0) {
      errcode = errno;
      return 0;
    }
    if (put == 0) {
      errcode = broken_pipe;
      return 0;
    }
    done += static_cast<size_t>(put);
  } while (done < size);
  return 1;
}

// ---- error state ----

int unix_socket::is_ok() { return errcode == ok; }

long unix_socket::get_err() { return errcode; }

void unix_socket::get_error_text(char *buf, size_t buf_size) {
  if (buf == nullptr || buf_size == 0) return;
  const char *text;
  char sysbuf[256];
  switch (errcode) {
    case ok:
      text = "ok";
      break;
    case not_opened:
      text = "socket not opened";
      break;
    case bad_address:
      text = "bad address";
      break;
    case connection_failed:
      text = "exceed limit of attempts of connection to server";
      break;
    case broken_pipe:
      text = "connection is broken";
      break;
    case invalid_access_mode:
      text = "invalid access mode";
      break;
    default:
      // The GNU strerror_r: thread-safe, returns the text to use.
      text = strerror_r(static_cast<int>(errcode), sysbuf, sizeof(sysbuf));
      break;
  }
  strncpy(buf, text, buf_size);
}

long unix_socket::MyGetActual() { return fd; }

// ---- server side ----

socket_t *unix_socket::accept(long timeout) {
  if (get_state() != ss_open) {
    errcode = not_opened;
    return nullptr;
  }
  if (timeout != -1) {
    int rc = wait_readable(fd, timeout);
    if (rc < 0) {
      errcode = errno;
      return nullptr;
    }
    if (rc == 0) return nullptr;
  }
  int s;
  do {
    // Every descriptor is close-on-exec, so a child the host starts never
    // keeps a connection open after we close it.
    s = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  } while (s < 0 && errno == EINTR);
  if (s < 0) {
    errcode = errno;
    return nullptr;
  }
  if (get_state() != ss_open) {
    // Cancelled meanwhile: this is most likely the waking connection.
    ::close(s);
    errcode = not_opened;
    return nullptr;
  }
  if (domain == sock_global_domain && set_nodelay(s) != 0) {
    errcode = errno;
    ::close(s);
    return nullptr;
  }
  linger l;
  l.l_onoff = 1;
  l.l_linger = 10;
  if (setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof(l)) != 0) {
    errcode = invalid_access_mode;
    ::close(s);
    return nullptr;
  }
  errcode = ok;
  return new unix_socket(static_cast<long>(s));
}

int unix_socket::cancel_accept() {
  set_state(ss_shutdown);
  // Wake a blocked accept by connecting to ourselves. The address actually
  // bound is used: the configured one may name port 0 (an ephemeral port),
  // or a host that would send an any-domain connect to a Unix-domain path.
  socket_t *waker = nullptr;
  if (domain == sock_local_domain) {
    waker = socket_t::connect(address, sock_local_domain, 1, 0);
  } else if (fd >= 0) {
    sockaddr_in sin;
    socklen_t len = sizeof(sin);
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&sin), &len) == 0 &&
        sin.sin_family == AF_INET) {
      char self[32];
      snprintf(self, sizeof(self), "127.0.0.1:%u", static_cast<unsigned>(ntohs(sin.sin_port)));
      waker = socket_t::connect(self, sock_global_domain, 1, 0);
    }
  }
  delete waker;
  return 1;
}

int unix_socket::shutdown() {
  if (get_state() == ss_open) {
    set_state(ss_shutdown);
    if (::shutdown(fd, SHUT_RDWR) != 0) {
      errcode = errno;
      return 0;
    }
  }
  discard_queue();
  return 1;
}

int unix_socket::close() {
  if (get_state() != ss_close) {
    set_state(ss_close);
    if (fd >= 0) {
      int rc = ::close(fd);
      fd = -1;
      if (rc != 0) {
        errcode = errno;
        return 0;
      }
    }
    errcode = ok;
    return 1;
  }
  discard_queue();
  errcode = ok;
  return 1;
}

// ---- process-wide set-up ----

static struct sigaction sigpipe_ignore;

unix_socket_library::unix_socket_library() {
  sigpipe_ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &sigpipe_ignore, nullptr);
}

unix_socket_library unisock_lib;

char *get_process_name() {
  static char name[264];
  utsname u;
  if (uname(&u) != 0) u.nodename[0] = '\0';
  snprintf(name, sizeof(name), "%s:%d", u.nodename, static_cast<int>(getpid()));
  return name;
}
