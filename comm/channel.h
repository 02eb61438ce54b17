// The in-process command channel: three anonymous pipes, and the framing of
// channel headers and data blocks on them.
//
// A channel header is three lines of "%010d\n": socket field, code, block
// count. A data block is a 10-character decimal length field and that many
// payload bytes. Each header or block is written or read whole under the
// lock of its stream; nothing keeps a command and its reply together.
//
// The core uses only the caller-side functions at the end; the stream
// variables are exported for programs that link against them, and so are
// the stream-addressed functions of compat.h.
#ifndef TALVOR_COMM_CHANNEL_H
#define TALVOR_COMM_CHANNEL_H

#include "platform.h"
#include "talvor/export.h"

// The six stream ends of the current channel (null while none exists).
TALVOR_EXPORT extern pipe_stream client_read_fp;          // replies in (callers)
TALVOR_EXPORT extern pipe_stream client_write_fp;         // commands out (callers)
TALVOR_EXPORT extern pipe_stream server_read_fp;          // commands in (communications thread)
TALVOR_EXPORT extern pipe_stream server_write_fp;         // replies out (communications thread)
TALVOR_EXPORT extern pipe_stream client_read_notify_fp;   // notify pipe, caller side (unused)
TALVOR_EXPORT extern pipe_stream server_write_notify_fp;  // notify pipe, thread side (unused)

// One lock per stream, each held for one header or one block.
TALVOR_EXPORT extern platform_lock hClientWritePipeMutex;
TALVOR_EXPORT extern platform_lock hServerWritePipeMutex;
TALVOR_EXPORT extern platform_lock hServerWriteNotifyPipeMutex;
TALVOR_EXPORT extern platform_lock hClientReadPipeMutex;
TALVOR_EXPORT extern platform_lock hServerReadPipeMutex;
TALVOR_EXPORT extern platform_lock hClientReadNotifyPipeMutex;
// Exist for programs that link against them; nothing here takes them.
TALVOR_EXPORT extern platform_lock hComInProgress;
TALVOR_EXPORT extern platform_lock hDoCommandMutex;
TALVOR_EXPORT extern platform_lock hClientMutex;
TALVOR_EXPORT extern platform_lock hClientNotifyMutex;

enum { channel_line_size = 11, channel_header_size = 33, channel_length_field_size = 10 };

// Creates the three pipes and opens the six streams. 1 on success; 0 after
// printing the failed pipe's message (the pipes already made are closed).
TALVOR_EXPORT int start_communications();
// Closes the caller-side streams of the current channel, and the thread-side
// ones unless the communications thread has taken them over (it closes its
// own when it ends). Returns 1.
TALVOR_EXPORT int stop_communications();
// Starts fn(arg) on a new detached thread. Returns 0 when it started, -1
// (after printing "Error: Cannot create a new thread.\n") when it did not.
TALVOR_EXPORT int CreateTask(int (*fn)(int *), void *arg);

// ---- pure framing (tested with byte fixtures) ----

// The three header lines, exactly channel_header_size bytes plus a NUL.
void encode_channel_header(char out[channel_header_size + 1], int sockref, int command, int count);

// ---- the caller side of the current channel, as the core uses it ----

// 1 while a channel exists (its caller-side ends are open).
int channel_is_open();
// Writes a channel header with socket field 0. 0, or -1 when the pipe failed.
int channel_send_header(int command, int count);
// Writes text with its NUL as one block (null: the empty text). 0 or -1.
int channel_send_text(const char *text);
// Reads a reply header. 0, or -1 (code and count 0) when the pipe failed.
int channel_receive_header(int *code, int *count);
// Reads a reply block: a wire_status (wire.h). *data is a new buffer of *len
// bytes, or null for a length of 0 or less.
int channel_receive_block(char **data, int *len);

// The thread side of the current channel, handed to the communications
// thread, which owns and closes these streams from then on.
struct channel_thread_ends {
  pipe_stream read;    // commands in
  pipe_stream write;   // replies out
  pipe_stream notify;  // notify pipe, thread side
};
// Gives the current channel's thread-side streams to the thread: after this
// stop_communications no longer closes them.
channel_thread_ends take_thread_ends();
void close_thread_ends(channel_thread_ends *ends);

#endif
