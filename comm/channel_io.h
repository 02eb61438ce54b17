// Channel framing with the stream's mutex given explicitly. The public
// channel functions pick the mutex by comparing the stream with the global
// ends; the communications thread, which owns its own ends, names its mutex
// directly and so never reads the caller-side globals.
#ifndef TALVOR_COMM_CHANNEL_IO_H
#define TALVOR_COMM_CHANNEL_IO_H

#include <pthread.h>
#include <stdio.h>

// 0 on success, -1 when the stream failed.
int channel_write_header(FILE *file, pthread_mutex_t *mutex, int sockref, int command, int count);
// 0 with the three values stored, -1 (all three 0) when the stream failed.
int channel_read_header(FILE *file, pthread_mutex_t *mutex, int *sockref, int *command, int *count);
// Writes the length field ("%010d" when zero_filled, else "%10d") and len
// bytes. Returns len, -1 when the stream failed.
int channel_write_block(FILE *file, pthread_mutex_t *mutex, const char *data, int len, int zero_filled);
// A wire_status (see comm/wire.h); *data is null for a length of 0 or less.
int channel_read_block(FILE *file, pthread_mutex_t *mutex, char **data, int *len);

#endif
