// The communications thread: connects to the server, performs the
// handshake, opens the notify connection, then relays every command of the
// command pipe to the server and the final reply back to the reply pipe,
// dropping progress replies.
//
// The thread owns the values below: the connect operation fills the two
// names before it starts a thread, and reads the counters; the thread sets
// them as it comes up and goes down.
#ifndef TALVOR_COMM_COMM_THREAD_H
#define TALVOR_COMM_COMM_THREAD_H

#include <atomic>

#include "talvor/export.h"

enum { name_field_size = 1024 };

// "host:port" of the command and the notify connection.
TALVOR_EXPORT extern char server_name[name_field_size];
TALVOR_EXPORT extern char notify_server_name[name_field_size];
// The thread's start argument; its value is not used.
TALVOR_EXPORT extern int client_is_local;
// 1 once a thread has come up; set back to 0 by the disconnect.
TALVOR_EXPORT extern std::atomic<int> global_active_connection;
// The number of relays serving the pipes.
TALVOR_EXPORT extern std::atomic<int> active_com;

// Starts a thread for the current channel and names, taking over the
// channel's thread-side streams. 0 when it started, -1 when it could not
// (nothing then runs).
TALVOR_EXPORT int create_server_task();
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
// 1 while a relay serves the current channel.
int connection_serving();
// The body of server(): a session over the current channel and names, run
// on the calling thread.
int serve_current_channel();

#endif
