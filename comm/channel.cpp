// The command channel on POSIX: pipes wrapped in stdio streams, framed
// headers and blocks, each written or read whole under its stream's mutex.
#include "comm/channel.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "comm/channel_io.h"
#include "comm/wire.h"

FILE *client_read_fp;
FILE *client_write_fp;
FILE *server_read_fp;
FILE *server_write_fp;
FILE *client_read_notify_fp;
FILE *server_write_notify_fp;

pthread_mutex_t hClientWritePipeMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t hServerWritePipeMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t hServerWriteNotifyPipeMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t hClientReadPipeMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t hServerReadPipeMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t hClientReadNotifyPipeMutex = PTHREAD_MUTEX_INITIALIZER;
// Exists for callers that link against it; no path of ours takes it.
pthread_mutex_t hComInProgress = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t hDoCommandMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t hClientMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t hClientNotifyMutex = PTHREAD_MUTEX_INITIALIZER;

// Streams are read and written with the _unlocked stdio calls under our own
// mutexes: a thread waiting for a command or a reply must not hold the
// stream's stdio lock, or a host program's fflush(NULL) would hang on it.

// Set once the communications thread owns the thread-side streams.
static int thread_ends_taken;

static pthread_mutex_t *writer_mutex(FILE *file) {
  if (file == client_write_fp) return &hClientWritePipeMutex;
  if (file == server_write_fp) return &hServerWritePipeMutex;
  return &hServerWriteNotifyPipeMutex;
}

static pthread_mutex_t *reader_mutex(FILE *file) {
  if (file == client_read_fp) return &hClientReadPipeMutex;
  if (file == server_read_fp) return &hServerReadPipeMutex;
  return &hClientReadNotifyPipeMutex;
}

// Gives the other thread the processor between the many small transfers.
static void yield_after(pthread_mutex_t *mutex) {
  pthread_mutex_unlock(mutex);
  sched_yield();
}

// Reads exactly n bytes. 1 when all arrived.
static int read_exact(FILE *file, char *buf, size_t n) { return n == 0 || fread_unlocked(buf, 1, n, file) == n; }

// Reads and drops n bytes. 1 when all arrived.
static int drop_bytes(FILE *file, size_t n) {
  char scratch[4096];
  while (n > 0) {
    size_t step = n < sizeof scratch ? n : sizeof scratch;
    if (fread_unlocked(scratch, 1, step, file) != step) return 0;
    n -= step;
  }
  return 1;
}

void encode_channel_line(char out[channel_line_size + 1], int value) {
  snprintf(out, channel_line_size + 1, "%010d\n", value);
}

// ---- framing with an explicit mutex ----

int channel_write_header(FILE *file, pthread_mutex_t *mutex, int sockref, int command, int count) {
  if (!file) return -1;
  char header[3 * channel_line_size + 1];
  encode_channel_line(header, sockref);
  encode_channel_line(header + channel_line_size, command);
  encode_channel_line(header + 2 * channel_line_size, count);
  pthread_mutex_lock(mutex);
  int ok = fwrite_unlocked(header, 1, channel_header_size, file) == channel_header_size && fflush_unlocked(file) == 0;
  yield_after(mutex);
  return ok ? 0 : -1;
}

int channel_read_header(FILE *file, pthread_mutex_t *mutex, int *sockref, int *command, int *count) {
  *sockref = *command = *count = 0;
  if (!file) return -1;
  char lines[3][1024];
  pthread_mutex_lock(mutex);
  int ok = 1;
  for (int i = 0; i < 3 && ok; ++i) ok = fgets_unlocked(lines[i], sizeof lines[i], file) != nullptr;
  yield_after(mutex);
  if (!ok) return -1;
  *sockref = atoi(lines[0]);
  *command = atoi(lines[1]);
  *count = atoi(lines[2]);
  return 0;
}

int channel_write_block(FILE *file, pthread_mutex_t *mutex, const char *data, int len, int zero_filled) {
  if (!file) return -1;
  char field[channel_length_field_size + 1];
  snprintf(field, sizeof field, zero_filled ? "%010d" : "%10d", len);
  size_t payload = len > 0 ? (size_t)len : 0;
  pthread_mutex_lock(mutex);
  int ok = fwrite_unlocked(field, 1, channel_length_field_size, file) == channel_length_field_size &&
           (payload == 0 || fwrite_unlocked(data, 1, payload, file) == payload) && fflush_unlocked(file) == 0;
  yield_after(mutex);
  return ok ? len : -1;
}

int channel_read_block(FILE *file, pthread_mutex_t *mutex, char **data, int *len) {
  *data = nullptr;
  *len = 0;
  if (!file) return wire_broken;
  char field[channel_length_field_size] = {0};
  int status = wire_ok;
  pthread_mutex_lock(mutex);
  int n = 0;
  if (!read_exact(file, field, sizeof field) || !decode_block_length(field, &n)) {
    // Our writers never send a negative or oversized length: the stream
    // is not to be trusted any further.
    status = wire_broken;
  } else if (n > 0) {
    char *buf = (char *)malloc((size_t)n);
    if (!buf) {
      status = drop_bytes(file, (size_t)n) ? wire_no_memory : wire_broken;
    } else if (!read_exact(file, buf, (size_t)n)) {
      free(buf);
      status = wire_broken;
    } else {
      *data = buf;
      *len = n;
    }
  }
  yield_after(mutex);
  return status;
}

// ---- the public channel operations ----

int start_communications() {
  // A channel left behind by a thread that has since ended is closed first,
  // so reconnecting never leaks its streams.
  if (client_read_fp || client_write_fp) stop_communications();

  int fds[3][2];
  static const char *const messages[3] = {
      "Error: cannot create client / server communications pipe 1: ",
      "Error: cannot create client / server communications pipe 2: ",
      "Error: cannot create client / server communications pipe 3: "};
  for (int i = 0; i < 3; ++i) {
    // Close-on-exec: a child the host program starts must not hold the
    // channel open.
    if (pipe2(fds[i], O_CLOEXEC) != 0) {
      perror(messages[i]);
      for (int j = 0; j < i; ++j) {
        close(fds[j][0]);
        close(fds[j][1]);
      }
      return 0;
    }
  }
  FILE *streams[6] = {fdopen(fds[0][0], "r"), fdopen(fds[0][1], "w"), fdopen(fds[1][0], "r"),
                      fdopen(fds[1][1], "w"), fdopen(fds[2][0], "r"), fdopen(fds[2][1], "w")};
  int ok = 1;
  for (FILE *s : streams) ok = ok && s;
  if (!ok) {
    perror("Error: cannot open client / server communications streams: ");
    for (int i = 0; i < 6; ++i) {
      if (streams[i])
        fclose(streams[i]);
      else
        close(fds[i / 2][i % 2]);
    }
    return 0;
  }
  client_read_fp = streams[0];
  server_write_fp = streams[1];
  server_read_fp = streams[2];
  client_write_fp = streams[3];
  client_read_notify_fp = streams[4];
  server_write_notify_fp = streams[5];
  thread_ends_taken = 0;
  return 1;
}

static void close_stream(FILE **stream) {
  if (*stream) fclose(*stream);
  *stream = nullptr;
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

namespace {
struct task_start {
  int (*fn)(int *);
  int *arg;
};
}  // namespace

static void *run_task(void *p) {
  task_start start = *(task_start *)p;
  free(p);
  start.fn(start.arg);
  return nullptr;
}

int CreateTask(int (*fn)(int *), void *arg) {
  task_start *start = (task_start *)malloc(sizeof *start);
  pthread_attr_t attr;
  pthread_t thread;
  int ok = start && pthread_attr_init(&attr) == 0;
  if (ok) {
    *start = task_start{fn, (int *)arg};
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    ok = pthread_create(&thread, &attr, run_task, start) == 0;
    pthread_attr_destroy(&attr);
  }
  if (!ok) {
    free(start);
    fputs("Error: Cannot create a new thread.\n", stderr);
    return -1;
  }
  return 0;
}

// ---- socket references ----

enum { socket_table_size = 64 };
static socket_t *socket_table[socket_table_size];
static pthread_mutex_t socket_table_mutex = PTHREAD_MUTEX_INITIALIZER;

int socket_reference(socket_t *sock) {
  if (!sock) return 0;
  int ref = -1;
  pthread_mutex_lock(&socket_table_mutex);
  for (int i = 0; i < socket_table_size && ref < 0; ++i) {
    if (socket_table[i] == sock) ref = i + 1;
  }
  for (int i = 0; i < socket_table_size && ref < 0; ++i) {
    if (!socket_table[i]) {
      socket_table[i] = sock;
      ref = i + 1;
    }
  }
  pthread_mutex_unlock(&socket_table_mutex);
  return ref;
}

socket_t *socket_from_reference(int ref) {
  if (ref < 1 || ref > socket_table_size) return nullptr;
  pthread_mutex_lock(&socket_table_mutex);
  socket_t *sock = socket_table[ref - 1];
  pthread_mutex_unlock(&socket_table_mutex);
  return sock;
}

// ---- headers and blocks on a stream or a socket ----

int write_command_to_pipe(FILE *file, int command, int count, socket_t *sock) {
  pthread_mutex_t *mutex = writer_mutex(file);
  if (sock) {
    pthread_mutex_lock(mutex);
    int queued = write_command_to_net(sock, command, count);
    yield_after(mutex);
    return queued > 0 ? 0 : -1;
  }
  return channel_write_header(file, mutex, 0, command, count);
}

int write_sock_and_command_to_pipe(FILE *file, socket_t *sock, int command, int count) {
  return channel_write_header(file, writer_mutex(file), socket_reference(sock), command, count);
}

int read_command_from_pipe(FILE *file, int *command, int *count, socket_t **sock) {
  int ref = 0;
  int result = channel_read_header(file, reader_mutex(file), &ref, command, count);
  if (sock) *sock = socket_from_reference(ref);
  return result;
}

int read_command_from_pipe_no_progress(FILE *file, int *command, int *count, socket_t **sock) {
  return read_command_from_pipe(file, command, count, sock);
}

int pipe_send(FILE *file, int len, char *data, socket_t *sock) {
  if (sock) {
    pthread_mutex_t *mutex = writer_mutex(file);
    pthread_mutex_lock(mutex);
    int queued = s_write(sock, data, len);
    yield_after(mutex);
    return queued > 0 ? len : -1;
  }
  return channel_write_block(file, writer_mutex(file), data, len, 0);
}

int pipe_print(FILE *file, char *text, socket_t *sock) {
  static char empty[] = "";
  if (!text) text = empty;
  int len = (int)strlen(text) + 1;
  if (sock) return pipe_send(file, len, text, sock);
  return channel_write_block(file, writer_mutex(file), text, len, 1);
}

int pipe_read_block(FILE *file, char **data, int *len) {
  return channel_read_block(file, reader_mutex(file), data, len);
}

char *pipe_get_alloc(FILE *file, int *len) {
  char *data = nullptr;
  int n = 0;
  pipe_read_block(file, &data, &n);
  if (len) *len = n;
  return data;
}

int pipe_get(char *buf, int size, FILE *file) {
  pthread_mutex_t *mutex = reader_mutex(file);
  char field[channel_length_field_size] = {0};
  int n = 0;
  pthread_mutex_lock(mutex);
  if (file && read_exact(file, field, sizeof field) && decode_block_length(field, &n) && n > 0) {
    size_t take = size > 0 ? ((size_t)n < (size_t)size ? (size_t)n : (size_t)size) : 0;
    if (!read_exact(file, buf, take) || !drop_bytes(file, (size_t)n - take)) n = 0;
  } else {
    n = 0;
  }
  yield_after(mutex);
  return n;
}

int strip_lf(char *text) {
  if (!text) return 0;
  size_t len = strlen(text);
  for (size_t i = 0; i < len; ++i)
    if (text[i] == '\r' || text[i] == '\n') text[i] = '\0';
  return 0;
}
