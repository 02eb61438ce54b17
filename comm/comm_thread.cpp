// The communications thread.
#include "comm_thread.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "channel.h"
#include "channel_io.h"
#include "platform.h"
#include "protocol.h"
#include "sockio.h"
#include "wire.h"

char server_name[name_field_size];
char notify_server_name[name_field_size];
int client_is_local = 0;
std::atomic<int> global_active_connection{0};
std::atomic<int> active_com{0};

namespace {

enum { connect_attempts = 10, connect_pause_seconds = 10, handshake_rejections = 10 };
// A server that accepts but never answers the handshake must not hold the
// thread for ever: each handshake reply is awaited this long.
enum { handshake_reply_seconds = 10 };
enum { local_shutdown_pause_ms = 5000 };

enum session_state { starting, serving, failed, ended };

// Shared by a thread and the connect that started it; the last one to let
// go deletes it.
struct session {
  int refs;
  session_state state;
  bool abandoned;  // the connect stopped waiting: never start serving
  channel_thread_ends ends;
  char server[name_field_size];
  char notify[name_field_size];
};

// Statically initialised and never destroyed: a detached thread may still
// use them while the process runs its exit-time destructors.
platform_lock state_lock = PLATFORM_LOCK_INIT;
platform_cond state_changed = PLATFORM_COND_INIT;
session *newest;  // the session of the latest create_server_task

// Holds state_lock for one scope.
struct state_guard {
  state_guard() { lock_acquire(&state_lock); }
  ~state_guard() { lock_release(&state_lock); }
  state_guard(const state_guard &) = delete;
  state_guard &operator=(const state_guard &) = delete;
};

// Waits, holding state_lock, until done() or until timeout_ms have passed.
// Returns done().
template <typename Predicate>
bool wait_state(int timeout_ms, Predicate done) {
  long long deadline = monotonic_ms() + timeout_ms;
  while (!done() && monotonic_ms() < deadline) cond_wait_until(&state_changed, &state_lock, deadline);
  return done();
}

void release(session *s) {
  bool last;
  {
    state_guard guard;
    last = --s->refs == 0;
  }
  if (last) delete s;
}

void set_state(session *s, session_state state, int active_delta) {
  {
    state_guard guard;
    s->state = state;
    active_com += active_delta;
  }
  cond_broadcast(&state_changed);
}

socket_t *connect_to(const char *address) {
  return socket_t::connect(address, socket_t::sock_global_domain, connect_attempts, connect_pause_seconds);
}

void drop(socket_t *&sock) {
  if (sock) {
    sock->close();
    delete sock;
    sock = nullptr;
  }
}

// Sends one handshake request with its one text block; returns the reply
// code, 0 when the connection failed.
int exchange(socket_t *sock, int command, const char *text, int len) {
  write_command_to_net(sock, command, 1);
  s_write(sock, const_cast<char *>(text), len);
  sock->buffered_flush();
  if (!sock->is_ok()) return 0;
  char header[command_header_size];
  if (sock->read(header, sizeof header, sizeof header, handshake_reply_seconds) != (long)sizeof header) return 0;
  int code = 0, count = 0;
  if (!decode_command_header(header, &code, &count)) return 0;
  return code;
}

bool abandoned(session *s) {
  state_guard guard;
  return s->abandoned;
}

// Connects and shakes hands. The command socket, or null after printing
// why not.
socket_t *open_command_connection(session *s) {
  const char *address = s->server;
  socket_t *sock = connect_to(address);
  if (!sock) {
    fputs("Failed to connect to server\n", stderr);
    return nullptr;
  }
  if (!sock->is_ok()) {
    char text[256];
    sock->get_error_text(text, sizeof text);
    text[sizeof text - 1] = '\0';
    fprintf(stderr, "Connection to server failed: %s\n", text);
    drop(sock);
    return nullptr;
  }
  int rejections = 0;
  while (rejections < handshake_rejections) {
    if (abandoned(s)) {
      // Nobody waits for this connection any more.
      drop(sock);
      return nullptr;
    }
    if (exchange(sock, command_hello, handshake_hello_text, sizeof handshake_hello_text) != reply_ok) {
      // Rejected (the server may be full): reconnect and try again.
      ++rejections;
      drop(sock);
      sock = connect_to(address);
      if (!sock || !sock->is_ok()) rejections = handshake_rejections;
      continue;
    }
    if (exchange(sock, command_version, handshake_version_text, sizeof handshake_version_text) == reply_ok) return sock;
    // A version the server does not take will not change by asking again.
    fputs("Failed to connect to server - clients/server version missmatch.\n", stderr);
    drop(sock);
    return nullptr;
  }
  fputs("Failed to connect to server - too many clients.\n", stderr);
  drop(sock);
  return nullptr;
}

// The relay's side of the command connection. What the server sends is
// read in pieces as large as have arrived, and headers and blocks are taken
// from this buffer, instead of one exact read per header, length field and
// payload. Each read asks the socket for at least the bytes the current
// frame still lacks and for no more than fit, so it returns as soon as those
// are there: it never waits for bytes the server has not promised.
class net_reader {
 public:
  enum { capacity = 64 * 1024 };

  explicit net_reader(socket_t *sock) : sock_(sock) {}
  net_reader(const net_reader &) = delete;
  net_reader &operator=(const net_reader &) = delete;

  // Makes at least n bytes (n <= capacity) available at data(). 0 when the
  // connection failed first.
  int fill(size_t n) {
    if (end_ - start_ >= n) return 1;
    if (start_ > 0) {
      memmove(buf_, buf_ + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
    }
    while (end_ < n) {
      long got = sock_->read(buf_ + end_, n - end_, capacity - end_, -1);
      if (got <= 0) return 0;
      end_ += static_cast<size_t>(got);
    }
    return 1;
  }
  // Reads n bytes straight into dst, past the buffer, which must be empty.
  int read_exact(char *dst, size_t n) { return sock_->read(dst, n); }
  char *data() { return buf_ + start_; }
  size_t available() const { return end_ - start_; }
  void consume(size_t n) {
    start_ += n;
    if (start_ == end_) start_ = end_ = 0;
  }

 private:
  socket_t *sock_;
  size_t start_ = 0;
  size_t end_ = 0;
  char buf_[capacity];
};

// Reads one 26-byte header, as read_command_from_net does: 0 (code and
// count 0) when it did not arrive, else whether it holds numbers.
int read_header(net_reader &in, int *code, int *count) {
  *code = *count = 0;
  if (!in.fill(command_header_size)) return 0;
  int ok = decode_command_header(in.data(), code, count);
  in.consume(command_header_size);
  return ok;
}

// Reads a block's length field without consuming it. 0 when the connection
// failed or the length is impossible.
int peek_length(net_reader &in, int *len) {
  *len = 0;
  return in.fill(block_length_field_size) && decode_block_length(in.data(), len);
}

// Whether the block of len bytes whose length field has been consumed is the
// marker; waits only for the marker's 23 bytes, which a block that long
// promises. -1 when the connection failed.
int block_is_marker(net_reader &in, int len) {
  if (len < end_of_list_size) return 0;
  if (!in.fill(end_of_list_size)) return -1;
  return is_end_of_list(in.data(), len);
}

// Drops n bytes of the stream. 1 when all arrived.
int skip_bytes(net_reader &in, size_t n) {
  while (n > 0) {
    if (in.available() == 0 && !in.fill(1)) return 0;
    size_t step = in.available() < n ? in.available() : n;
    in.consume(step);
    n -= step;
  }
  return 1;
}

// Requests: a reusable buffer for the blocks read from the command pipe. It
// keeps its room between blocks, but gives back anything above keep_room.
struct block_buffer {
  enum { keep_room = 64 * 1024 };
  char *data = nullptr;
  size_t room = 0;
  ~block_buffer() { free(data); }
  void trim() {
    if (room > keep_room) {
      free(data);
      data = nullptr;
      room = 0;
    }
  }
};

// Forwards one request's blocks from the pipe to the socket queue. Returns
// wire_ok, wire_no_memory (a block was dropped: the request must not go
// out) or wire_broken.
int forward_request_blocks(const channel_thread_ends &ends, socket_t *sock, int count, block_buffer &buf) {
  int status = wire_ok;
  for (int forwarded = 0; forwarded < count || count < 0; ++forwarded) {
    int len = 0;
    int read = channel_read_block_reusing(ends.read, &hServerReadPipeMutex, &buf.data, &buf.room, &len);
    if (read == wire_broken) return wire_broken;
    if (read == wire_no_memory) {
      fputs("Error: memory allocation failure.\n", stderr);
      status = wire_no_memory;
      if (count < 0) return status;  // cannot see the marker any more
      continue;
    }
    char empty = '\0';
    if (status == wire_ok) s_write(sock, len > 0 ? buf.data : &empty, len);
    bool marker = is_end_of_list(buf.data, len);
    buf.trim();
    if (marker) break;
  }
  return status;
}

// Reads and drops the blocks of a progress reply. 1 when the stream is fine.
int drop_reply_blocks(net_reader &in, int count) {
  for (int read = 0; read < count || count < 0; ++read) {
    int len = 0;
    if (!peek_length(in, &len)) return 0;
    in.consume(block_length_field_size);
    int marker = block_is_marker(in, len);
    if (marker < 0 || !skip_bytes(in, (size_t)len)) return 0;
    if (marker) break;
  }
  return 1;
}

// Passes one reply block on to the reply pipe with a "%10d" length field.
// A block that fits the read-ahead buffer is awaited whole and leaves in one
// write straight from that buffer. A longer one is read into a buffer of its
// own, the rest of it with one exact read, as s_read_block would: the relay
// then does not alternate small socket reads with pipe writes, which let the
// server's window close and stalled large values. One that cannot be held is
// dropped and passed on as a block of length 0, so the caller takes it for a
// missing block instead of waiting for it. *marker tells whether it was the
// END_OF_LIST marker. 1 when the stream is still in step.
int forward_reply_block(net_reader &in, pipe_stream out, bool *marker) {
  *marker = false;
  int len = 0;
  if (!peek_length(in, &len)) return 0;
  size_t frame = block_length_field_size + (size_t)len;
  if (frame <= net_reader::capacity) {
    if (!in.fill(frame)) return 0;
    // The server's field may be written differently (zero-filled, say):
    // ours is "%10d", written over it in place.
    encode_block_length(in.data(), len);
    *marker = is_end_of_list(in.data() + block_length_field_size, len);
    lock_acquire(&hServerWritePipeMutex);
    int ok = stream_write(out, in.data(), frame) && stream_flush(out);
    lock_release(&hServerWritePipeMutex);
    in.consume(frame);
    return ok;
  }
  in.consume(block_length_field_size);
  char *data = static_cast<char *>(malloc(frame));
  if (!data) {
    if (!skip_bytes(in, (size_t)len)) return 0;
    channel_write_block(out, &hServerWritePipeMutex, nullptr, 0, 0);
    return 1;
  }
  encode_block_length(data, len);
  size_t have = in.available() < (size_t)len ? in.available() : (size_t)len;
  memcpy(data + block_length_field_size, in.data(), have);
  in.consume(have);
  if (have < (size_t)len && !in.read_exact(data + block_length_field_size + have, (size_t)len - have)) {
    free(data);
    return 0;
  }
  *marker = is_end_of_list(data + block_length_field_size, len);
  lock_acquire(&hServerWritePipeMutex);
  int ok = stream_write(out, data, frame) && stream_flush(out);
  lock_release(&hServerWritePipeMutex);
  free(data);
  return ok;
}

// Passes the final reply on to the reply pipe, block by block as each
// arrives. 1 when the reply was passed whole.
int forward_reply(const channel_thread_ends &ends, net_reader &in) {
  int code = 0, count = 0;
  for (;;) {
    if (!read_header(in, &code, &count)) return 0;
    if (code != reply_progress) break;
    if (!drop_reply_blocks(in, count)) return 0;
  }
  if (channel_write_header(ends.write, &hServerWritePipeMutex, 0, code, count) != 0) return 0;
  for (int forwarded = 0; forwarded < count || count < 0; ++forwarded) {
    bool marker = false;
    if (!forward_reply_block(in, ends.write, &marker)) return 0;
    if (marker) break;
  }
  return 1;
}

// The relay loop. 1 when it ended through a command, 0 when a pipe or the
// connection failed.
int relay(const channel_thread_ends &ends, socket_t *sock) {
  // The handshake read exactly its replies, so nothing of the stream is
  // buffered elsewhere when the reader starts.
  net_reader *in = new (std::nothrow) net_reader(sock);
  if (!in) return 0;
  block_buffer request;
  int result = 0;
  for (;;) {
    int ref = 0, command = 0, count = 0;
    if (channel_read_header(ends.read, &hServerReadPipeMutex, &ref, &command, &count) != 0) break;
    write_command_to_net(sock, command, count);
    int blocks = forward_request_blocks(ends, sock, count, request);
    if (blocks == wire_broken) break;
    if (blocks == wire_no_memory) {
      // Never send half a command: drop what was queued and fail the call.
      sock->discard_queue();
      channel_write_header(ends.write, &hServerWritePipeMutex, 0, 0, 0);
      continue;
    }
    sock->buffered_flush();
    if (!sock->is_ok()) break;
    if (command == command_disconnect) {
      int code = 0;
      read_header(*in, &code, &count);
      result = 1;
      break;
    }
    if (command == command_local_shutdown) {
      channel_write_header(ends.write, &hServerWritePipeMutex, 0, reply_local_shutdown, 0);
      sleep_ms(local_shutdown_pause_ms);
      result = 1;
      break;
    }
    if (!forward_reply(ends, *in)) break;
  }
  delete in;
  return result;
}

int run_session(session *s) {
  socket_t *sock = open_command_connection(s);
  socket_t *notify = sock ? connect_to(s->notify) : nullptr;
  if (notify && !notify->is_ok()) drop(notify);

  bool serve = false;
  if (sock && notify) {
    state_guard guard;
    serve = !s->abandoned;
    if (serve) {
      s->state = serving;
      global_active_connection = 1;
      active_com += 1;
    }
  }
  int result = 0;
  if (serve) {
    cond_broadcast(&state_changed);
    result = relay(s->ends, sock);
  }
  drop(sock);
  drop(notify);
  close_thread_ends(&s->ends);
  set_state(s, serve ? ended : failed, serve ? -1 : 0);
  return result;
}

// A session over the current channel and names, held by refs owners; it
// takes over the channel's thread-side streams. Null when out of memory.
session *new_session(int refs) {
  session *s = new (std::nothrow) session();
  if (!s) return nullptr;
  s->refs = refs;
  s->state = starting;
  s->abandoned = false;
  snprintf(s->server, sizeof s->server, "%s", server_name);
  snprintf(s->notify, sizeof s->notify, "%s", notify_server_name);
  s->ends = take_thread_ends();
  return s;
}

int thread_entry(int *arg) {
  session *s = reinterpret_cast<session *>(arg);
  run_session(s);
  release(s);
  return 0;
}

}  // namespace

int create_server_task() {
  session *s = new_session(2);  // one for `newest`, one for the thread
  if (!s) return -1;
  session *old;
  {
    state_guard guard;
    old = newest;
    newest = s;
  }
  if (old) release(old);
  if (CreateTask(thread_entry, s) != 0) {
    // No thread will own the ends: close them here.
    close_thread_ends(&s->ends);
    state_guard guard;
    s->state = failed;
    s->refs = 1;  // only `newest` holds it now
    return -1;
  }
  return 0;
}

int wait_for_thread_start(int timeout_ms) {
  state_guard guard;
  session *s = newest;
  if (!s) return com_start_failed;
  wait_state(timeout_ms, [s] { return s->state != starting; });
  if (s->state == starting) {
    s->abandoned = true;
    return com_start_timed_out;
  }
  return s->state == serving ? com_start_serving : com_start_failed;
}

int wait_for_threads_to_end(int timeout_ms) {
  state_guard guard;
  return wait_state(timeout_ms, [] { return active_com <= 0; });
}

int connection_serving() { return active_com.load() > 0 && channel_is_open(); }

int serve_current_channel() {
  session *s = new_session(1);
  if (!s) return 0;
  int result = run_session(s);
  release(s);
  return result;
}
