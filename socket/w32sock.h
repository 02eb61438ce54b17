// Windows implementations of socket_t: w32_socket over Winsock (TCP/IPv4)
// and w32_local_socket between two processes of one machine over a named
// shared-memory area with named events.
#ifndef TALVOR_SOCKET_W32SOCK_H
#define TALVOR_SOCKET_W32SOCK_H

#include <winsock2.h>
#include <windows.h>

#include "sockio.h"

class TALVOR_EXPORT w32_socket : public socket_t {
 public:
  // Library error codes kept in errcode (other values are Winsock errors).
  enum {
    ok = 0,
    not_opened = -1,          // "socket not opened"
    bad_address = -2,         // "bad address"
    connection_failed = -3,   // "exceed limit of attempts of connection to server"
    broken_pipe = -4,         // "connection is broken"
    invalid_access_mode = -5  // "invalid access mode"
  };

  explicit w32_socket(const char *address);
  explicit w32_socket(SOCKET new_handle);
  ~w32_socket() override;

  // 1 on success; 0 with errcode set. Only a refused connection is retried.
  int connect(long max_attempts, time_t timeout);
  int open(long listen_queue_size);

  long buffered_write(const void *buf, size_t size) override;
  void buffered_flush() override;
  long read(void *buf, size_t min_size, size_t max_size, time_t timeout) override;
  int read(void *buf, size_t size) override;
  int write(const void *buf, size_t size) override;
  int is_ok() override;
  // A system error's text is preceded by "system error occurred\n" on
  // standard output.
  void get_error_text(char *buf, size_t buf_size) override;
  long get_err() override;
  socket_t *accept(long timeout) override;
  int cancel_accept() override;
  int shutdown() override;
  int close() override;
  long MyGetActual() override;

 protected:
  SOCKET handle;
  long errcode;
  char *address;
};

// One direction of a local connection inside the shared area: two waiting
// flags, the two ring positions and the ring itself (8192 bytes in all).
struct w32_local_channel {
  enum { ring_size = 8176 };
  volatile LONG reader_waiting;
  volatile LONG writer_waiting;
  volatile LONG write_pos;
  volatile LONG read_pos;
  char data[ring_size];
};

class TALVOR_EXPORT w32_local_socket : public socket_t {
 public:
  enum {
    ok = 0,
    not_opened = -1,       // "socket not opened"
    broken_pipe = -2,      // "connection is broken"
    timeout_expired = -3   // "connection timeout expired"
  };
  enum { area_size = 16384 };

  explicit w32_local_socket(const char *address);
  // The accepted end: unnamed events and an unnamed private area.
  w32_local_socket();
  ~w32_local_socket() override;

  // The connecting side of the hand-over; waits at most max_attempts *
  // timeout seconds for a listener in accept. 1 on success, 0 on failure.
  int connect(long max_attempts, time_t timeout);
  // Creates the named events and area a connecting side looks for.
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
  // The wait of a reader or writer: 1 when the event came, 0 on failure
  // with errcode set (-2 when the peer has gone).
  int wait_for_peer(HANDLE event, DWORD millis, bool *timed_out);
  void close_handles();
  void map_area(bool listener_half_first);

  w32_local_channel *in_channel;
  w32_local_channel *out_channel;
  HANDLE events[4];
  HANDLE peer_alive_mutex;
  HANDLE mapping;
  long errcode;
  char *name;
};

// Its one instance starts Winsock (version 1.1) at load and stops it at
// exit, and holds this process's alive_mutex: owned by the loading thread
// and never released, so a peer process sees it abandoned when that thread
// ends.
class TALVOR_EXPORT w32_socket_library {
 public:
  w32_socket_library();
  ~w32_socket_library();
  HANDLE alive_mutex;
};

TALVOR_EXPORT extern w32_socket_library w32sock_lib;

// "hostname:pid" (the pid in lower-case hexadecimal) in a static buffer
// overwritten by each call.
TALVOR_EXPORT char *get_process_name();

#endif
