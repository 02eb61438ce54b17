// The operating-system services the channel and the communications thread
// need: pipes wrapped as streams, locks and a condition, detached threads,
// pauses and a clock. This header is the whole seam: the POSIX build
// implements it in platform_posix.cpp, and a Windows build implements the
// same functions over Win32 in a file of its own.
//
// Every function returns 1 for success and 0 for failure unless it says
// otherwise; none of them prints anything.
#ifndef TALVOR_COMM_PLATFORM_H
#define TALVOR_COMM_PLATFORM_H

#include <stddef.h>

#include <pthread.h>
#include <stdio.h>

// One end of an in-process pipe, opened for reading or for writing. On
// POSIX it is a stdio stream, which is also the type of the channel's
// exported stream variables.
typedef FILE *pipe_stream;

// A lock that needs no construction: objects of static storage are
// initialised with PLATFORM_LOCK_INIT and never destroyed, so a detached
// thread may still use them while the process runs its exit-time
// destructors.
typedef pthread_mutex_t platform_lock;
#define PLATFORM_LOCK_INIT PTHREAD_MUTEX_INITIALIZER
// A condition to wait on under a platform_lock, initialised the same way.
typedef pthread_cond_t platform_cond;
#define PLATFORM_COND_INIT PTHREAD_COND_INITIALIZER

void lock_acquire(platform_lock *lock);
void lock_release(platform_lock *lock);
// Wakes every thread waiting on cond.
void cond_broadcast(platform_cond *cond);
// Waits on cond, with lock held, until woken or until the monotonic clock
// reaches deadline_ms. Returns with lock held; it may return early, so the
// caller rechecks its predicate.
void cond_wait_until(platform_cond *cond, platform_lock *lock, long long deadline_ms);
// Milliseconds of a clock that never goes back.
long long monotonic_ms();

// Creates a pipe and opens its two ends, neither of them inherited by child
// processes. On failure nothing stays open and the system's error is kept
// for report_system_error.
int pipe_open(pipe_stream *read_end, pipe_stream *write_end);
// Writes message, ": " and the description of the last failed system call to
// standard error, as one line.
void report_system_error(const char *message);
// Writes all n bytes; they may wait in the stream's buffer until
// stream_flush.
int stream_write(pipe_stream stream, const void *data, size_t n);
// Pushes everything written so far into the pipe.
int stream_flush(pipe_stream stream);
// Reads exactly n bytes; 0 when the pipe ends or fails first.
int stream_read(pipe_stream stream, void *buf, size_t n);
// Reads one line, its line feed included, of at most size - 1 bytes, and
// ends it with NUL; 0 when nothing could be read.
int stream_read_line(pipe_stream stream, char *buf, size_t size);
void stream_close(pipe_stream stream);

// Starts fn(arg) on a new thread that is never joined.
int thread_start_detached(void (*fn)(void *), void *arg);
void sleep_ms(long ms);

#endif
