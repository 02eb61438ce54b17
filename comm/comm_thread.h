// The communications thread: connects to the server, performs the
// handshake, opens the notify connection, then relays every command of the
// command pipe to the server and the final reply back to the reply pipe,
// dropping progress replies.
#ifndef TALVOR_COMM_COMM_THREAD_H
#define TALVOR_COMM_COMM_THREAD_H

// Starts a thread for the current channel, taking over its thread-side
// streams. 0 when it started, -1 when it could not (nothing then runs).
int create_server_task();
// Thread entry of the design's shape: runs server(*arg) and returns 0.
int x_server(int *arg);
// Serves the current channel on the calling thread. 1 when the relay ended
// through a command, 0 when the connection or handshake failed or the
// connection broke.
int server(int);
// Prints "CAUGHT SIGNAL %d\n" and ends the process. Never installed.
void sig_int(int signal);

// How the newest thread started, as seen by the connect wait.
enum com_start_outcome {
  com_start_serving = 1,   // the relay serves the pipes
  com_start_failed = 0,    // the thread gave up (address, handshake, notify)
  com_start_timed_out = -1 // still trying: it has been told to give up
};
// Waits up to timeout_ms for the thread started by create_server_task.
int wait_for_thread_start(int timeout_ms);
// Waits up to timeout_ms for active_com to fall to 0 or below. 1 when it did.
int wait_for_threads_to_end(int timeout_ms);

#endif
