// Channel framing with the stream's lock given explicitly. The caller side
// and the communications thread each name the lock of the end they own; the
// stream-addressed functions of channel.h pick it by comparing streams.
#ifndef TALVOR_COMM_CHANNEL_IO_H
#define TALVOR_COMM_CHANNEL_IO_H

#include "platform.h"

// 0 on success, -1 when the stream failed.
int channel_write_header(pipe_stream file, platform_lock *lock, int sockref, int command, int count);
// 0 with the three values stored, -1 (all three 0) when the stream failed.
int channel_read_header(pipe_stream file, platform_lock *lock, int *sockref, int *command, int *count);
// Writes the length field ("%010d" when zero_filled, else "%10d") and len
// bytes. Returns len, -1 when the stream failed.
int channel_write_block(pipe_stream file, platform_lock *lock, const char *data, int len, int zero_filled);
// A wire_status (see wire.h); *data is null for a length of 0 or less.
int channel_read_block(pipe_stream file, platform_lock *lock, char **data, int *len);
// Reads a block into *buf, a malloc'ed buffer of *room bytes grown (never
// shrunk) as needed, so a reader of many blocks allocates once. A wire_status
// with *len set (0 for a length of 0 or less; no_memory when the buffer
// could not grow: the payload was read and dropped).
int channel_read_block_reusing(pipe_stream file, platform_lock *lock, char **buf, size_t *room, int *len);
// Reads a block into buf: at most size bytes, the rest read and dropped.
// Returns the length field's value, 0 for an empty or failed block.
int channel_read_block_into(pipe_stream file, platform_lock *lock, char *buf, int size);

#endif
