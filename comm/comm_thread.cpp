// The communications thread.
#include "comm/comm_thread.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "comm/channel.h"
#include "comm/channel_io.h"
#include "comm/wire.h"
#include "core/state.h"
#include "socket/sockio.h"

namespace {

enum { connect_attempts = 10, connect_pause_seconds = 10, handshake_rejections = 10 };
// A server that accepts but never answers the handshake must not hold the
// thread for ever: each handshake reply is awaited this long.
enum { handshake_reply_seconds = 10 };
enum { reply_progress = 84, reply_ok = 8, command_disconnect = 1, command_disconnect_ack = 2 };

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

// Never destroyed: a detached thread may still use them while the process
// runs its exit-time destructors.
std::mutex &state_mutex = *new std::mutex;
std::condition_variable &state_changed = *new std::condition_variable;
session *newest;  // the session of the latest create_server_task

void release(session *s) {
  bool last;
  {
    std::lock_guard<std::mutex> lock(state_mutex);
    last = --s->refs == 0;
  }
  if (last) delete s;
}

void set_state(session *s, session_state state, int active_delta) {
  {
    std::lock_guard<std::mutex> lock(state_mutex);
    s->state = state;
    active_com += active_delta;
  }
  state_changed.notify_all();
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
  std::lock_guard<std::mutex> lock(state_mutex);
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
    if (exchange(sock, 211, "4", 2) != reply_ok) {
      // Rejected (the server may be full): reconnect and try again.
      ++rejections;
      drop(sock);
      sock = connect_to(address);
      if (!sock || !sock->is_ok()) rejections = handshake_rejections;
      continue;
    }
    if (exchange(sock, 265, "211", 4) == reply_ok) return sock;
    // A version the server does not take will not change by asking again.
    fputs("Failed to connect to server - clients/server version missmatch.\n", stderr);
    drop(sock);
    return nullptr;
  }
  fputs("Failed to connect to server - too many clients.\n", stderr);
  drop(sock);
  return nullptr;
}

// Forwards one request's blocks from the pipe to the socket queue. Returns
// wire_ok, wire_no_memory (a block was dropped: the request must not go
// out) or wire_broken.
int forward_request_blocks(const channel_thread_ends &ends, socket_t *sock, int count) {
  int status = wire_ok;
  for (int forwarded = 0; forwarded < count || count < 0; ++forwarded) {
    char *data = nullptr;
    int len = 0;
    int read = channel_read_block(ends.read, &hServerReadPipeMutex, &data, &len);
    if (read == wire_broken) return wire_broken;
    if (read == wire_no_memory) {
      fputs("Error: memory allocation failure.\n", stderr);
      status = wire_no_memory;
      if (count < 0) return status;  // cannot see the marker any more
      continue;
    }
    char empty = '\0';
    if (status == wire_ok) s_write(sock, data ? data : &empty, len);
    bool marker = is_end_of_list(data, len);
    free(data);
    if (marker) break;
  }
  return status;
}

// Reads and drops the blocks of a progress reply. 1 when the stream is fine.
int drop_reply_blocks(socket_t *sock, int count) {
  for (int read = 0; read < count || count < 0; ++read) {
    char *data = nullptr;
    int len = 0;
    int status = s_read_block(sock, &data, &len);
    if (status == wire_broken) return 0;
    bool marker = status == wire_ok && is_end_of_list(data, len);
    free(data);
    if (marker) break;
  }
  return 1;
}

// Passes the final reply on to the reply pipe, block by block as each
// arrives. 1 when the reply was passed whole.
int forward_reply(const channel_thread_ends &ends, socket_t *sock) {
  int code = 0, count = 0;
  for (;;) {
    if (!read_command_from_net(sock, &code, &count)) return 0;
    if (code != reply_progress) break;
    if (!drop_reply_blocks(sock, count)) return 0;
  }
  if (channel_write_header(ends.write, &hServerWritePipeMutex, 0, code, count) != 0) return 0;
  for (int forwarded = 0; forwarded < count || count < 0; ++forwarded) {
    char *data = nullptr;
    int len = 0;
    int status = s_read_block(sock, &data, &len);
    if (status == wire_broken) return 0;
    // A block we could not hold reaches the caller as a missing block, so
    // it never waits for one that will not come.
    channel_write_block(ends.write, &hServerWritePipeMutex, data, len, 0);
    bool marker = is_end_of_list(data, len);
    free(data);
    if (marker) break;
  }
  return 1;
}

// The relay loop. 1 when it ended through a command, 0 when a pipe or the
// connection failed.
int relay(const channel_thread_ends &ends, socket_t *sock) {
  for (;;) {
    int ref = 0, command = 0, count = 0;
    if (channel_read_header(ends.read, &hServerReadPipeMutex, &ref, &command, &count) != 0) return 0;
    write_command_to_net(sock, command, count);
    int blocks = forward_request_blocks(ends, sock, count);
    if (blocks == wire_broken) return 0;
    if (blocks == wire_no_memory) {
      // Never send half a command: drop what was queued and fail the call.
      free(sock->buffer);
      sock->buffer = nullptr;
      sock->buffer_size = 0;
      channel_write_header(ends.write, &hServerWritePipeMutex, 0, 0, 0);
      continue;
    }
    sock->buffered_flush();
    if (!sock->is_ok()) return 0;
    if (command == command_disconnect) {
      int code = 0;
      read_command_from_net(sock, &code, &count);
      return 1;
    }
    if (command == command_disconnect_ack) {
      channel_write_header(ends.write, &hServerWritePipeMutex, 0, command_disconnect_ack, 0);
      sleep(5);
      return 1;
    }
    if (!forward_reply(ends, sock)) return 0;
  }
}

void close_ends(channel_thread_ends &ends) {
  // Closing the reply end wakes a caller waiting for a reply with end of
  // stream, which it reports as a failed reply instead of hanging.
  if (ends.write) fclose(ends.write);
  if (ends.read) fclose(ends.read);
  if (ends.notify) fclose(ends.notify);
  ends = channel_thread_ends{nullptr, nullptr, nullptr};
}

int run_session(session *s) {
  socket_t *sock = open_command_connection(s);
  socket_t *notify = sock ? connect_to(s->notify) : nullptr;
  if (notify && !notify->is_ok()) drop(notify);

  bool serve = false;
  if (sock && notify) {
    std::lock_guard<std::mutex> lock(state_mutex);
    serve = !s->abandoned;
    if (serve) {
      s->state = serving;
      global_active_connection = 1;
      active_com += 1;
    }
  }
  int result = 0;
  if (serve) {
    state_changed.notify_all();
    result = relay(s->ends, sock);
  }
  drop(sock);
  drop(notify);
  close_ends(s->ends);
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
    std::lock_guard<std::mutex> lock(state_mutex);
    old = newest;
    newest = s;
  }
  if (old) release(old);
  if (CreateTask(thread_entry, s) != 0) {
    // No thread will own the ends: close them here.
    close_ends(s->ends);
    std::lock_guard<std::mutex> lock(state_mutex);
    s->state = failed;
    s->refs = 1;  // only `newest` holds it now
    return -1;
  }
  return 0;
}

int wait_for_thread_start(int timeout_ms) {
  std::unique_lock<std::mutex> lock(state_mutex);
  session *s = newest;
  if (!s) return com_start_failed;
  state_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [s] { return s->state != starting; });
  if (s->state == starting) {
    s->abandoned = true;
    return com_start_timed_out;
  }
  return s->state == serving ? com_start_serving : com_start_failed;
}

int wait_for_threads_to_end(int timeout_ms) {
  std::unique_lock<std::mutex> lock(state_mutex);
  return state_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [] { return active_com <= 0; });
}

int x_server(int *arg) {
  server(*arg);
  return 0;
}

int server(int) {
  session *s = new_session(1);
  if (!s) return 0;
  int result = run_session(s);
  release(s);
  return result;
}

void sig_int(int signal) {
  printf("CAUGHT SIGNAL %d\n", signal);
  exit(0);
}
