// Entry points kept for programs that link against them: nothing in the
// library calls these.
#include "compat.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "channel.h"
#include "channel_io.h"
#include "comm_thread.h"
#include "sockio.h"
#include "wire.h"

namespace {

platform_lock *writer_lock(pipe_stream file) {
  if (file == client_write_fp) return &hClientWritePipeMutex;
  if (file == server_write_fp) return &hServerWritePipeMutex;
  return &hServerWriteNotifyPipeMutex;
}

platform_lock *reader_lock(pipe_stream file) {
  if (file == client_read_fp) return &hClientReadPipeMutex;
  if (file == server_read_fp) return &hServerReadPipeMutex;
  return &hClientReadNotifyPipeMutex;
}

// Socket references for the header's socket field: a small table, so that a
// reference fits the 10-character field on 64-bit platforms too.
enum { socket_table_size = 64 };
socket_t *socket_table[socket_table_size];
platform_lock socket_table_lock = PLATFORM_LOCK_INIT;

// 0 for null; -1 when the table is full.
int socket_reference(socket_t *sock) {
  if (!sock) return 0;
  int ref = -1;
  lock_acquire(&socket_table_lock);
  for (int i = 0; i < socket_table_size && ref < 0; ++i) {
    if (socket_table[i] == sock) ref = i + 1;
  }
  for (int i = 0; i < socket_table_size && ref < 0; ++i) {
    if (!socket_table[i]) {
      socket_table[i] = sock;
      ref = i + 1;
    }
  }
  lock_release(&socket_table_lock);
  return ref;
}

// Null for 0 or an unknown reference.
socket_t *socket_from_reference(int ref) {
  if (ref < 1 || ref > socket_table_size) return nullptr;
  lock_acquire(&socket_table_lock);
  socket_t *sock = socket_table[ref - 1];
  lock_release(&socket_table_lock);
  return sock;
}

// Runs a socket operation under the lock of a stream, as the stream writers
// do.
template <typename F>
int under_lock(platform_lock *lock, F f) {
  lock_acquire(lock);
  int result = f();
  lock_release(lock);
  return result;
}

}  // namespace

int write_command_to_pipe(pipe_stream file, int command, int count, socket_t *sock) {
  if (sock) {
    return under_lock(writer_lock(file), [&] { return write_command_to_net(sock, command, count) > 0 ? 0 : -1; });
  }
  return channel_write_header(file, writer_lock(file), 0, command, count);
}

int write_sock_and_command_to_pipe(pipe_stream file, socket_t *sock, int command, int count) {
  return channel_write_header(file, writer_lock(file), socket_reference(sock), command, count);
}

int read_command_from_pipe(pipe_stream file, int *command, int *count, socket_t **sock) {
  int ref = 0;
  int result = channel_read_header(file, reader_lock(file), &ref, command, count);
  if (sock) *sock = socket_from_reference(ref);
  return result;
}

int read_command_from_pipe_no_progress(pipe_stream file, int *command, int *count, socket_t **sock) {
  return read_command_from_pipe(file, command, count, sock);
}

int pipe_send(pipe_stream file, int len, char *data, socket_t *sock) {
  if (sock) return under_lock(writer_lock(file), [&] { return s_write(sock, data, len) > 0 ? len : -1; });
  return channel_write_block(file, writer_lock(file), data, len, 0);
}

int pipe_print(pipe_stream file, char *text, socket_t *sock) {
  static char empty[] = "";
  if (!text) text = empty;
  int len = (int)strlen(text) + 1;
  if (sock) return pipe_send(file, len, text, sock);
  return channel_write_block(file, writer_lock(file), text, len, 1);
}

char *pipe_get_alloc(pipe_stream file, int *len) {
  char *data = nullptr;
  int n = 0;
  channel_read_block(file, reader_lock(file), &data, &n);
  if (len) *len = n;
  return data;
}

int pipe_get(char *buf, int size, pipe_stream file) {
  return channel_read_block_into(file, reader_lock(file), buf, size);
}

int strip_lf(char *text) {
  if (!text) return 0;
  size_t len = strlen(text);
  for (size_t i = 0; i < len; ++i)
    if (text[i] == '\r' || text[i] == '\n') text[i] = '\0';
  return 0;
}

char *s_read_alloc(socket_t *sock, int *len) {
  char *data;
  int n;
  s_read_block(sock, &data, &n);
  *len = n;
  return data;
}

int s_read(socket_t *sock, char *buf, int size) {
  if (buf != nullptr && size > 0) buf[0] = '\0';
  int len;
  if (!wire_read_length(sock, &len)) return 0;
  int n = len;
  if (n > size) n = size;
  if (n < 0 || buf == nullptr) n = 0;
  if ((n > 0 && !sock->read(buf, static_cast<size_t>(n))) || !wire_discard(sock, static_cast<long long>(len) - n)) {
    // A block that did not arrive whole leaves an empty text, not a part.
    if (buf != nullptr && size > 0) buf[0] = '\0';
    return 0;
  }
  return n;
}

int x_server(int *arg) {
  server(*arg);
  return 0;
}

int server(int) { return serve_current_channel(); }

void sig_int(int signal) {
  printf("CAUGHT SIGNAL %d\n", signal);
  exit(0);
}
