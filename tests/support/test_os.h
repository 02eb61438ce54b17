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
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace talvortest {

// ---- process and threads ----

// This process's id, for names no other test process uses at the same time.
inline int process_id() { return static_cast<int>(getpid()); }

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

}  // namespace talvortest

#endif
