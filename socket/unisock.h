// POSIX implementation of socket_t over TCP/IPv4 and Unix-domain sockets.
#ifndef TALVOR_SOCKET_UNISOCK_H
#define TALVOR_SOCKET_UNISOCK_H

#include "sockio.h"

class TALVOR_EXPORT unix_socket : public socket_t {
 public:
  // Library error codes kept in errcode (other values are errno numbers).
  enum {
    ok = 0,
    not_opened = -1,        // "socket not opened"
    bad_address = -2,       // "bad address"
    connection_failed = -3, // "exceed limit of attempts of connection to server"
    broken_pipe = -4,       // "connection is broken"
    invalid_access_mode = -5 // "invalid access mode"
  };

  static const char *unix_socket_dir;  // "/tmp/"

  unix_socket(const char *addr, socket_domain domain);
  explicit unix_socket(long new_fd);
  ~unix_socket() override;

  // 1 on success; 0 with errcode set.
  int connect(long max_attempts, time_t timeout);
  int open(long listen_queue_size);

  long buffered_write(const void *buf, size_t size) override;
  void buffered_flush() override;
  long read(void *buf, size_t min_size, size_t max_size, time_t timeout) override;
  int read(void *buf, size_t size) override;
  int write(const void *buf, size_t size) override;
  int is_ok() override;
  void get_error_text(char *buf, size_t buf_size) override;
  long get_err() override;
  socket_t *accept(long timeout) override;
  int cancel_accept() override;
  int shutdown() override;
  int close() override;
  long MyGetActual() override;

 protected:
  descriptor_t fd;
  long errcode;
  char *address;
  socket_domain domain;
  int create_file;
};

// Its one instance, constructed at load, makes SIGPIPE ignored process-wide
// so that writing to a broken connection fails instead of killing the host.
class TALVOR_EXPORT unix_socket_library {
 public:
  unix_socket_library();
};

TALVOR_EXPORT extern unix_socket_library unisock_lib;

// "nodename:pid" in a static buffer overwritten by each call.
TALVOR_EXPORT char *get_process_name();

#endif
