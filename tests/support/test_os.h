// The operating-system calls of the test suite's reusable helpers (the
// scriptable server, scratch directories, loopback pairs, the raw client and
// the server fixtures) in one place, so that a port to another system has
// one file to write. Tests that check POSIX behaviour on purpose (descriptor
// flags, child processes) still make their own calls.
//
// Header-only: helpers that are headers themselves (loopback_pair.h) are used
// by test programs that link no test library.
//
// Nothing here prints or throws; each function says what it returns when the
// system refuses.
#ifndef TALVOR_TESTS_SUPPORT_TEST_OS_H
#define TALVOR_TESTS_SUPPORT_TEST_OS_H

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace talvortest {

// ---- process and threads ----

// This process's id, for names no other test process uses at the same time.
inline int process_id() { return static_cast<int>(getpid()); }

// The calling thread's id as the kernel knows it (the same number that names
// its entry under /proc/self/task).
inline long thread_id() { return static_cast<long>(syscall(SYS_gettid)); }

// ---- sockets, by descriptor ----

// Port an IPv4 socket is bound to, or -1.
inline int bound_port_of(int fd) {
  sockaddr_in sin;
  socklen_t len = sizeof(sin);
  memset(&sin, 0, sizeof(sin));
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&sin), &len) != 0) return -1;
  return ntohs(sin.sin_port);
}

namespace test_os_detail {
inline bool set_timeout(int fd, int option, int seconds) {
  timeval tv;
  tv.tv_sec = seconds;
  tv.tv_usec = 0;
  return setsockopt(fd, SOL_SOCKET, option, &tv, sizeof(tv)) == 0;
}
}  // namespace test_os_detail

// A receive (or send) that waits longer than `seconds` fails with EAGAIN
// instead of waiting on. false when the option could not be set.
inline bool set_receive_timeout(int fd, int seconds) {
  return test_os_detail::set_timeout(fd, SO_RCVTIMEO, seconds);
}
inline bool set_send_timeout(int fd, int seconds) {
  return test_os_detail::set_timeout(fd, SO_SNDTIMEO, seconds);
}

// close() returns at once and the kernel sends what is left in the
// background, instead of lingering.
inline void disable_linger(int fd) {
  linger l;
  l.l_onoff = 0;
  l.l_linger = 0;
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
}

// Ends both directions of a connection: a thread blocked reading or writing
// it wakes up. The descriptor stays open.
inline void shutdown_both_ways(int fd) { ::shutdown(fd, SHUT_RDWR); }

inline void close_descriptor(int fd) {
  if (fd >= 0) ::close(fd);
}

// A loopback TCP socket bound to an ephemeral port that never listens, so
// the port stays taken and every connection to it is refused while the
// socket is open. The descriptor with the port in *port, or -1.
inline int open_refusing_socket(int *port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sin;
  memset(&sin, 0, sizeof(sin));
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = 0;
  int bound = -1;
  if (::bind(fd, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) != 0 || (bound = bound_port_of(fd)) < 0) {
    ::close(fd);
    return -1;
  }
  *port = bound;
  return fd;
}

// ---- files and directories ----

// Creates a new directory /tmp/<prefix>-XXXXXX (mode 0700) whose name no
// other directory has. Its path, or "" when it could not be made.
inline std::string create_unique_directory(const std::string &prefix) {
  std::string path = "/tmp/" + prefix + "-XXXXXX";
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) return "";
  return name.data();
}

// Names of the entries of dir, without "." and ".."; empty when dir cannot
// be read.
inline std::vector<std::string> directory_entries(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent *e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  return names;
}

// Removes a file that is not a directory; false when it could not.
inline bool remove_file(const std::string &path) { return unlink(path.c_str()) == 0; }

// Removes an empty directory; false when it could not.
inline bool remove_empty_directory(const std::string &path) { return rmdir(path.c_str()) == 0; }

// ---- what a thread is blocked in ----
//
// For tests that must know another thread already waits inside a call
// before they act (a cancel must meet a blocked accept, not one about to
// start). Linux shows the system call a blocked thread waits in under
// /proc/self/task/<tid>/syscall.

enum class blocking_call { read, accept };

namespace test_os_detail {

using steady = std::chrono::steady_clock;

// A line of /proc/self/task/<tid>/syscall: the number of the call the
// thread is blocked in and its first arguments. A running thread, or one
// blocked outside a call, has none.
struct syscall_line {
  bool in_call = false;
  long number = -1;
  unsigned long long args[3] = {0, 0, 0};
};

// Reads the file with plain descriptors, not stdio: opening a stdio stream
// takes the lock that fflush(NULL) holds, and a test may look while a flush
// is stuck. false when the file cannot be read.
inline bool read_syscall_line(long tid, syscall_line *out) {
  std::string path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[256];
  ssize_t n = ::read(fd, buf, sizeof(buf) - 1);
  ::close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  *out = syscall_line();
  if (strncmp(buf, "running", 7) == 0) return true;
  char *p = buf;
  char *end = nullptr;
  long number = strtol(p, &end, 10);
  if (end == p || number < 0) return true;
  out->number = number;
  p = end;
  for (unsigned long long &arg : out->args) {
    arg = strtoull(p, &end, 0);
    if (end == p) return true;
    p = end;
  }
  out->in_call = true;
  return true;
}

inline bool is_accept(const syscall_line &s, int fd) {
  const unsigned long long wanted = static_cast<unsigned long long>(fd);
#ifdef SYS_accept4
  if (s.number == SYS_accept4 && s.args[0] == wanted) return true;
#endif
#ifdef SYS_accept
  if (s.number == SYS_accept && s.args[0] == wanted) return true;
#endif
#ifdef SYS_socketcall
  // Where accept goes through socketcall (i386), the descriptor sits behind
  // a pointer: the call itself (5 accept, 18 accept4) has to do.
  if (s.number == SYS_socketcall && (s.args[0] == 5 || s.args[0] == 18)) return true;
#endif
  (void)wanted;
  return false;
}

inline bool matches(const syscall_line &s, blocking_call call, int fd) {
  if (!s.in_call) return false;
  if (call == blocking_call::read)
    return s.number == SYS_read && s.args[0] == static_cast<unsigned long long>(fd);
  return is_accept(s, fd);
}

inline void pause_briefly() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

// The one-time check behind blocking_calls_visible. A thread of its own
// blocks reading 7 bytes from an empty pipe; the file must show exactly
// that. The same descriptor and size under another number means the file
// shows another numbering (the host's, under an emulator).
inline bool check_visibility(std::string *why) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *why = "cannot make a pipe to check /proc/self/task/<tid>/syscall";
    return false;
  }
  std::promise<long> tid_promise;
  std::future<long> tid_future = tid_promise.get_future();
  std::thread reader([&] {
    tid_promise.set_value(thread_id());
    char buf[7];
    while (::read(fds[0], buf, sizeof(buf)) < 0 && errno == EINTR) {
    }
  });
  const long tid = tid_future.get();
  const auto deadline = steady::now() + std::chrono::seconds(20);
  bool visible = false;
  *why = "/proc/self/task/<tid>/syscall never showed a thread blocked in read";
  for (;;) {
    syscall_line s;
    if (!read_syscall_line(tid, &s)) {
      *why = "/proc/self/task/<tid>/syscall cannot be read";
      break;
    }
    if (matches(s, blocking_call::read, fds[0]) && s.args[2] == 7) {
      visible = true;
      break;
    }
    if (s.in_call && s.args[0] == static_cast<unsigned long long>(fds[0]) && s.args[2] == 7) {
      *why = "/proc/self/task/<tid>/syscall shows system call numbers other than this "
             "program's (a user-mode emulator shows the host's)";
      break;
    }
    if (steady::now() > deadline) break;
    pause_briefly();
  }
  // Closing the write end ends the read whatever it waits for.
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);
  return visible;
}

}  // namespace test_os_detail

// true when /proc/self/task/<tid>/syscall shows this program's own system
// calls; false, with the reason in *why, when it is missing or shows another
// numbering (as under a user-mode emulator, where it shows the host's
// calls). Checked once per process, by watching a thread of its own block
// in a read.
inline bool blocking_calls_visible(std::string *why) {
  static std::once_flag once;
  static bool visible = false;
  static std::string reason;
  std::call_once(once, [] { visible = test_os_detail::check_visibility(&reason); });
  if (!visible && why != nullptr) *why = reason;
  return visible;
}

// Waits until thread tid is blocked in `call` on descriptor fd. false when
// that did not happen within timeout_ms.
inline bool wait_until_blocked(long tid, blocking_call call, int fd, int timeout_ms) {
  using namespace test_os_detail;
  const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    syscall_line s;
    if (read_syscall_line(tid, &s) && matches(s, call, fd)) return true;
    if (steady::now() > deadline) return false;
    pause_briefly();
  }
}

// The same for whichever thread of this process it is: that thread's id,
// or -1 when none was seen blocked so within timeout_ms.
inline long wait_until_any_blocked(blocking_call call, int fd, int timeout_ms) {
  using namespace test_os_detail;
  const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    for (const std::string &name : directory_entries("/proc/self/task")) {
      long tid = strtol(name.c_str(), nullptr, 10);
      syscall_line s;
      if (tid > 0 && read_syscall_line(tid, &s) && matches(s, call, fd)) return tid;
    }
    if (steady::now() > deadline) return -1;
    pause_briefly();
  }
}

}  // namespace talvortest

#endif
