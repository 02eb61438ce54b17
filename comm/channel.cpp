// The command channel: three pipes, framed headers and blocks, each written
// or read whole under its stream's lock.
#include "channel.h"

#include <stdlib.h>
#include <string.h>

#include "channel_io.h"
#include "wire.h"

pipe_stream client_read_fp;
pipe_stream client_write_fp;
pipe_stream server_read_fp;
pipe_stream server_write_fp;
pipe_stream client_read_notify_fp;
pipe_stream server_write_notify_fp;

platform_lock hClientWritePipeMutex = PLATFORM_LOCK_INIT;
platform_lock hServerWritePipeMutex = PLATFORM_LOCK_INIT;
platform_lock hServerWriteNotifyPipeMutex = PLATFORM_LOCK_INIT;
platform_lock hClientReadPipeMutex = PLATFORM_LOCK_INIT;
platform_lock hServerReadPipeMutex = PLATFORM_LOCK_INIT;
platform_lock hClientReadNotifyPipeMutex = PLATFORM_LOCK_INIT;
platform_lock hComInProgress = PLATFORM_LOCK_INIT;
platform_lock hDoCommandMutex = PLATFORM_LOCK_INIT;
platform_lock hClientMutex = PLATFORM_LOCK_INIT;
platform_lock hClientNotifyMutex = PLATFORM_LOCK_INIT;

namespace {

// Set once the communications thread owns the thread-side streams.
int thread_ends_taken;

// Frames up to this size (length field included) leave in one stream write
// from the stack; longer payloads follow their length field in a second
// write, which stdio passes straight to the pipe.
enum { small_frame_size = 4096 };

// Reads and drops n bytes. 1 when all arrived.
int drop_bytes(pipe_stream file, size_t n) {
  char scratch[4096];
  while (n > 0) {
    size_t step = n < sizeof scratch ? n : sizeof scratch;
    if (!stream_read(file, scratch, step)) return 0;
    n -= step;
  }
  return 1;
}

// Reads a length field. 1 with *len set; 0 when the stream failed or the
// length is one our writers never send (negative or oversized): the stream
// is not to be trusted any further.
int read_length_field(pipe_stream file, int *len) {
  char field[channel_length_field_size] = {0};
  *len = 0;
  return stream_read(file, field, sizeof field) && decode_block_length(field, len);
}

void close_stream(pipe_stream *stream) {
  if (*stream) stream_close(*stream);
  *stream = nullptr;
}

}  // namespace

void encode_channel_header(char out[channel_header_size + 1], int sockref, int command, int count) {
  snprintf(out, channel_header_size + 1, "%010d\n%010d\n%010d\n", sockref, command, count);
}

// ---- framing with an explicit lock ----

int channel_write_header(pipe_stream file, platform_lock *lock, int sockref, int command, int count) {
  if (!file) return -1;
  char header[channel_header_size + 1];
  encode_channel_header(header, sockref, command, count);
  lock_acquire(lock);
  int ok = stream_write(file, header, channel_header_size) && stream_flush(file);
  lock_release(lock);
  return ok ? 0 : -1;
}

int channel_read_header(pipe_stream file, platform_lock *lock, int *sockref, int *command, int *count) {
  *sockref = *command = *count = 0;
  if (!file) return -1;
  char lines[3][1024];
  lock_acquire(lock);
  int ok = 1;
  for (int i = 0; i < 3 && ok; ++i) ok = stream_read_line(file, lines[i], sizeof lines[i]);
  lock_release(lock);
  if (!ok) return -1;
  *sockref = atoi(lines[0]);
  *command = atoi(lines[1]);
  *count = atoi(lines[2]);
  return 0;
}

int channel_write_block(pipe_stream file, platform_lock *lock, const char *data, int len, int zero_filled) {
  if (!file) return -1;
  char field[channel_length_field_size + 1];
  snprintf(field, sizeof field, zero_filled ? "%010d" : "%10d", len);
  size_t payload = len > 0 ? (size_t)len : 0;
  // One write per frame: the reader then finds it whole in one pipe read.
  char frame[small_frame_size];
  int small = payload <= sizeof frame - channel_length_field_size;
  if (small) {
    memcpy(frame, field, channel_length_field_size);
    if (payload) memcpy(frame + channel_length_field_size, data, payload);
  }
  lock_acquire(lock);
  int ok = small ? stream_write(file, frame, channel_length_field_size + payload)
                 : stream_write(file, field, channel_length_field_size) && stream_write(file, data, payload);
  ok = ok && stream_flush(file);
  lock_release(lock);
  return ok ? len : -1;
}

int channel_read_block(pipe_stream file, platform_lock *lock, char **data, int *len) {
  // A buffer of no room yet: the read allocates exactly the block's length.
  char *buf = nullptr;
  size_t room = 0;
  int status = channel_read_block_reusing(file, lock, &buf, &room, len);
  if (status == wire_ok && *len > 0) {
    *data = buf;
  } else {
    free(buf);
    *data = nullptr;
  }
  return status;
}

int channel_read_block_reusing(pipe_stream file, platform_lock *lock, char **buf, size_t *room, int *len) {
  *len = 0;
  if (!file) return wire_broken;
  int status = wire_ok;
  int n = 0;
  lock_acquire(lock);
  if (!read_length_field(file, &n)) {
    status = wire_broken;
  } else if (n > 0) {
    if ((size_t)n > *room) {
      char *grown = (char *)realloc(*buf, (size_t)n);
      if (grown) {
        *buf = grown;
        *room = (size_t)n;
      }
    }
    if ((size_t)n > *room) {
      status = drop_bytes(file, (size_t)n) ? wire_no_memory : wire_broken;
    } else if (!stream_read(file, *buf, (size_t)n)) {
      status = wire_broken;
    } else {
      *len = n;
    }
  }
  lock_release(lock);
  return status;
}

int channel_read_block_into(pipe_stream file, platform_lock *lock, char *buf, int size) {
  int n = 0;
  lock_acquire(lock);
  if (file && read_length_field(file, &n) && n > 0) {
    size_t take = size > 0 ? ((size_t)n < (size_t)size ? (size_t)n : (size_t)size) : 0;
    if (!stream_read(file, buf, take) || !drop_bytes(file, (size_t)n - take)) n = 0;
  } else {
    n = 0;
  }
  lock_release(lock);
  return n;
}

// ---- the channel's life ----

int start_communications() {
  // A channel left behind by a thread that has since ended is closed first,
  // so reconnecting never leaks its streams.
  if (client_read_fp || client_write_fp) stop_communications();

  static const char *const messages[3] = {
      "Error: cannot create client / server communications pipe 1: ",
      "Error: cannot create client / server communications pipe 2: ",
      "Error: cannot create client / server communications pipe 3: "};
  pipe_stream ends[3][2] = {};
  for (int i = 0; i < 3; ++i) {
    if (!pipe_open(&ends[i][0], &ends[i][1])) {
      report_system_error(messages[i]);
      for (int j = 0; j < i; ++j) {
        stream_close(ends[j][0]);
        stream_close(ends[j][1]);
      }
      return 0;
    }
  }
  client_read_fp = ends[0][0];
  server_write_fp = ends[0][1];
  server_read_fp = ends[1][0];
  client_write_fp = ends[1][1];
  client_read_notify_fp = ends[2][0];
  server_write_notify_fp = ends[2][1];
  thread_ends_taken = 0;
  return 1;
}

int stop_communications() {
  if (thread_ends_taken) {
    // The communications thread closes these itself.
    server_write_fp = nullptr;
    server_read_fp = nullptr;
    server_write_notify_fp = nullptr;
  }
  close_stream(&server_write_fp);
  close_stream(&server_read_fp);
  close_stream(&client_write_fp);
  close_stream(&client_read_fp);
  close_stream(&client_read_notify_fp);
  close_stream(&server_write_notify_fp);
  thread_ends_taken = 0;
  return 1;
}

channel_thread_ends take_thread_ends() {
  channel_thread_ends ends = {server_read_fp, server_write_fp, server_write_notify_fp};
  thread_ends_taken = 1;
  return ends;
}

void close_thread_ends(channel_thread_ends *ends) {
  // Closing the reply end first wakes a caller waiting for a reply with end
  // of stream, which it reports as a failed reply instead of hanging.
  close_stream(&ends->write);
  close_stream(&ends->read);
  close_stream(&ends->notify);
}

namespace {
struct task {
  int (*fn)(int *);
  int *arg;
};

void run_task(void *p) {
  task t = *static_cast<task *>(p);
  free(p);
  t.fn(t.arg);
}
}  // namespace

int CreateTask(int (*fn)(int *), void *arg) {
  task *t = static_cast<task *>(malloc(sizeof *t));
  if (t) *t = task{fn, static_cast<int *>(arg)};
  if (!t || !thread_start_detached(run_task, t)) {
    free(t);
    fputs("Error: Cannot create a new thread.\n", stderr);
    return -1;
  }
  return 0;
}

// ---- the caller side ----

int channel_is_open() { return client_write_fp && client_read_fp; }

int channel_send_header(int command, int count) {
  return channel_write_header(client_write_fp, &hClientWritePipeMutex, 0, command, count);
}

int channel_send_text(const char *text) {
  if (!text) text = "";
  int len = (int)strlen(text) + 1;
  return channel_write_block(client_write_fp, &hClientWritePipeMutex, text, len, 1) < 0 ? -1 : 0;
}

int channel_receive_header(int *code, int *count) {
  int sockref = 0;
  return channel_read_header(client_read_fp, &hClientReadPipeMutex, &sockref, code, count);
}

int channel_receive_block(char **data, int *len) {
  return channel_read_block(client_read_fp, &hClientReadPipeMutex, data, len);
}
