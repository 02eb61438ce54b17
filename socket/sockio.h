// The abstract stream socket with an output queue.
//
// buffered_write only queues bytes; buffered_flush hands the whole queue to
// write() in one call, so a whole request leaves as one piece. Errors are
// kept in the socket and read back with is_ok/get_err/get_error_text.
#ifndef TALVOR_SOCKET_SOCKIO_H
#define TALVOR_SOCKET_SOCKIO_H

#include "stdtp.h"
#include "talvor/export.h"

// Longest host part of an address text "host:port".
enum { socket_max_host_length = 255 };

// Host and port of an address text "host:port[anything]": a colon, a host
// of at most socket_max_host_length characters, and a port in 0..65535 made
// of decimal digits right after the colon (a larger number would silently
// wrap to another port). 1 when the text has that form, else 0.
int split_socket_address(const char *address, char host[socket_max_host_length + 1], unsigned short *port);

class TALVOR_EXPORT socket_t {
 public:
  enum socket_domain {
    sock_any_domain = 0,    // Unix-domain when the host is this machine, else TCP
    sock_local_domain = 1,  // Unix-domain socket under unix_socket_dir
    sock_global_domain = 2  // TCP/IPv4
  };

  // Appends size bytes to the output queue; sends nothing. Returns size, or
  // -1 when the queue cannot grow (the queue then stays as it was).
  virtual long buffered_write(const void *buf, size_t size) = 0;
  // Writes the whole queue with write() and empties it whatever the result;
  // a failure stays recorded in the socket's error code.
  virtual void buffered_flush() = 0;
  // Timed read: returns once min_size bytes have arrived (the count read),
  // when a wait of timeout seconds sees no data (the count so far, error
  // code untouched), or -1 on failure. timeout -1 waits without limit.
  virtual long read(void *buf, size_t min_size, size_t max_size, time_t timeout) = 0;
  // Exact read: 1 when all size bytes arrived, 0 on failure (error code set).
  virtual int read(void *buf, size_t size) = 0;
  // Exact write: 1 when all size bytes were written, 0 on failure.
  virtual int write(const void *buf, size_t size) = 0;
  // 1 when the last operation left no error.
  virtual int is_ok() = 0;
  // Copies the text of the error code with strncpy semantics.
  virtual void get_error_text(char *buf, size_t buf_size) = 0;
  virtual long get_err() = 0;
  // Waits up to timeout seconds (-1: no limit) for a connection; returns a
  // new socket owned by the caller, or null.
  virtual socket_t *accept(long timeout) = 0;
  // Wakes a thread blocked in accept() on this listener; returns 1.
  virtual int cancel_accept() = 0;
  virtual int shutdown() = 0;
  virtual int close() = 0;
  virtual ~socket_t() {}
  // The underlying descriptor.
  virtual long MyGetActual() = 0;

  // Factories: always return a new object (never null) owned by the caller;
  // test is_ok() for the outcome.
  static socket_t *connect(const char *address, socket_domain domain = sock_any_domain,
                           long max_attempts = 1, time_t timeout = 0);
  static socket_t *create_local(const char *address, long listen_queue_size = 5);
  static socket_t *create_global(const char *address, long listen_queue_size = 5);

  // Drops everything queued, without sending it.
  void discard_queue();

  char *buffer;          // output queue, null when empty
  long buffer_size;      // queued bytes
  long reference_count;  // kept for layout; unused

 protected:
  enum { ss_open = 0, ss_shutdown = 1, ss_close = 2 } state;

  // The state is read by a thread blocked in accept while cancel_accept
  // changes it from another thread, so every access goes through atomics.
  int get_state() const { return __atomic_load_n(&state, __ATOMIC_SEQ_CST); }
  void set_state(int s) { __atomic_store_n(&state, static_cast<decltype(state)>(s), __ATOMIC_SEQ_CST); }

  // The output queue's work for every transport. queue_bytes appends size
  // bytes and returns size, or -1 when the queue cannot grow (it then stays
  // as it was); flush_queue hands the whole queue to write() and empties it.
  long queue_bytes(const void *buf, size_t size);
  void flush_queue();

  socket_t() : buffer(nullptr), buffer_size(0), reference_count(0), state(ss_close) {}
};

#endif
