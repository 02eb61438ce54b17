// The in-process command channel: three anonymous pipes wrapped in stdio
// streams, and the framing of channel headers and data blocks on them.
//
// A channel header is three lines of "%010d\n": socket field, code, block
// count. A data block is a 10-character decimal length field and that many
// payload bytes. Each header or block is written or read whole under the
// mutex of its stream; nothing keeps a command and its reply together.
#ifndef TALVOR_COMM_CHANNEL_H
#define TALVOR_COMM_CHANNEL_H

#include <pthread.h>
#include <stdio.h>

class socket_t;

// The six stream ends of the current channel (null while none exists).
extern FILE *client_read_fp;          // replies in (callers)
extern FILE *client_write_fp;         // commands out (callers)
extern FILE *server_read_fp;          // commands in (communications thread)
extern FILE *server_write_fp;         // replies out (communications thread)
extern FILE *client_read_notify_fp;   // notify pipe, caller side (unused)
extern FILE *server_write_notify_fp;  // notify pipe, thread side (unused)

extern pthread_mutex_t hClientWritePipeMutex;
extern pthread_mutex_t hServerWritePipeMutex;
extern pthread_mutex_t hServerWriteNotifyPipeMutex;
extern pthread_mutex_t hClientReadPipeMutex;
extern pthread_mutex_t hServerReadPipeMutex;
extern pthread_mutex_t hClientReadNotifyPipeMutex;
extern pthread_mutex_t hComInProgress;
extern pthread_mutex_t hDoCommandMutex;
extern pthread_mutex_t hClientMutex;
extern pthread_mutex_t hClientNotifyMutex;

enum { channel_line_size = 11, channel_header_size = 33, channel_length_field_size = 10 };

// Creates the three pipes and opens the six streams. 1 on success; 0 after
// printing the failed pipe's message (the pipes already made are closed).
int start_communications();
// Closes the caller-side streams of the current channel, and the thread-side
// ones unless the communications thread has taken them over (it closes its
// own when it ends). Returns 1.
int stop_communications();
// Starts fn(arg) on a new detached thread. Returns 0 when it started, -1
// (after printing "Error: Cannot create a new thread.\n") when it did not.
int CreateTask(int (*fn)(int *), void *arg);

// Header writers/readers return 0 on success, -1 when the stream failed
// (end of stream or write error; a failed read stores code 0 and count 0).
int write_command_to_pipe(FILE *file, int command, int count, socket_t *sock);
int write_sock_and_command_to_pipe(FILE *file, socket_t *sock, int command, int count);
int read_command_from_pipe(FILE *file, int *command, int *count, socket_t **sock);
int read_command_from_pipe_no_progress(FILE *file, int *command, int *count, socket_t **sock);

// Writes a block of len bytes ("%10d" length). Returns len (-1 on failure).
int pipe_send(FILE *file, int len, char *data, socket_t *sock);
// Writes text with its NUL ("%010d" length); null is the empty text.
// Returns the block length, -1 on failure.
int pipe_print(FILE *file, char *text, socket_t *sock);
// Reads a block into a new buffer of exactly its length (caller frees).
// Null with *len 0 for a length of 0 or less, a block that cannot be
// allocated (its payload is read and dropped), or a failed stream.
char *pipe_get_alloc(FILE *file, int *len);
// Status-reporting read for the communications thread: wire_ok with a
// buffer (null for length 0 or less), wire_no_memory (payload dropped), or
// wire_broken (stream failed or the length is impossible).
int pipe_read_block(FILE *file, char **data, int *len);
// Reads a block into buf (at most size bytes; the rest is dropped). Returns
// the length field's value, 0 for an empty or failed block.
int pipe_get(char *buf, int size, FILE *file);
// Replaces every CR and LF of text by NUL. Returns 0.
int strip_lf(char *text);

// Pure framing helpers (tested with byte fixtures).
void encode_channel_line(char out[channel_line_size + 1], int value);

// Socket references for the header's socket field: a small table so a
// reference fits the 10-character field on 64-bit platforms too.
int socket_reference(socket_t *sock);      // 0 for null; -1 when the table is full
socket_t *socket_from_reference(int ref);  // null for 0 or an unknown reference

// The thread side of the current channel, handed to the communications
// thread, which owns and closes these two streams from then on.
struct channel_thread_ends {
  FILE *read;   // commands in
  FILE *write;  // replies out
  FILE *notify; // notify pipe, thread side
};
// Gives the current channel's thread-side streams to the thread: after this
// stop_communications no longer closes them.
channel_thread_ends take_thread_ends();

#endif
