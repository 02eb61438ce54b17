// The platform seam on POSIX: pipes as stdio streams, pthread locks,
// conditions and threads.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "platform.h"

// Streams are read and written with the _unlocked stdio calls under the
// channel's own locks: a thread waiting for a command or a reply must not
// hold the stream's stdio lock, or a host program's fflush(NULL) would hang
// on it.

void lock_acquire(platform_lock *lock) { pthread_mutex_lock(lock); }
void lock_release(platform_lock *lock) { pthread_mutex_unlock(lock); }

void cond_broadcast(platform_cond *cond) { pthread_cond_broadcast(cond); }

void cond_wait_until(platform_cond *cond, platform_lock *lock, long long deadline_ms) {
  timespec until;
  until.tv_sec = static_cast<time_t>(deadline_ms / 1000);
  until.tv_nsec = static_cast<long>(deadline_ms % 1000) * 1000000L;
  // A statically initialised condition cannot be given a clock, so the
  // monotonic clock is named at each wait.
  pthread_cond_clockwait(cond, lock, CLOCK_MONOTONIC, &until);
}

long long monotonic_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int pipe_open(pipe_stream *read_end, pipe_stream *write_end) {
  int fds[2];
  // Close-on-exec: a child the host program starts must not hold the
  // channel open.
  if (pipe2(fds, O_CLOEXEC) != 0) return 0;
  FILE *r = fdopen(fds[0], "r");
  FILE *w = r ? fdopen(fds[1], "w") : nullptr;
  if (!w) {
    int saved = errno;
    if (r)
      fclose(r);
    else
      close(fds[0]);
    close(fds[1]);
    errno = saved;
    return 0;
  }
  *read_end = r;
  *write_end = w;
  return 1;
}

void report_system_error(const char *message) { perror(message); }

int stream_write(pipe_stream stream, const void *data, size_t n) {
  return n == 0 || fwrite_unlocked(data, 1, n, stream) == n;
}

int stream_flush(pipe_stream stream) { return fflush_unlocked(stream) == 0; }

int stream_read(pipe_stream stream, void *buf, size_t n) {
  return n == 0 || fread_unlocked(buf, 1, n, stream) == n;
}

int stream_read_line(pipe_stream stream, char *buf, size_t size) {
  return fgets_unlocked(buf, static_cast<int>(size), stream) != nullptr;
}

void stream_close(pipe_stream stream) { fclose(stream); }

namespace {
struct thread_start {
  void (*fn)(void *);
  void *arg;
};

void *run_thread(void *p) {
  thread_start start = *static_cast<thread_start *>(p);
  free(p);
  start.fn(start.arg);
  return nullptr;
}
}  // namespace

int thread_start_detached(void (*fn)(void *), void *arg) {
  thread_start *start = static_cast<thread_start *>(malloc(sizeof *start));
  if (!start) return 0;
  *start = thread_start{fn, arg};
  pthread_attr_t attr;
  pthread_t thread;
  int ok = pthread_attr_init(&attr) == 0;
  if (ok) {
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    ok = pthread_create(&thread, &attr, run_thread, start) == 0;
    pthread_attr_destroy(&attr);
  }
  if (!ok) free(start);
  return ok;
}

void sleep_ms(long ms) {
  timespec pause;
  pause.tv_sec = ms / 1000;
  pause.tv_nsec = (ms % 1000) * 1000000L;
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}
