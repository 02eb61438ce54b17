// The request/reply pattern shared by every operation.
#include "request.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "channel.h"
#include "comm_thread.h"
#include "wire.h"

int require_level(int needed) {
  if (global_user_level >= needed) return 1;
  global_error = talvor_err_user_level;
  return 0;
}

ResultSetEntry *require_entry(int handle) {
  if (handle < 0 || handle >= result_set_slots) {
    global_error = talvor_err_bad_handle;
    return nullptr;
  }
  if (!ResultSet[handle]) {
    global_error = talvor_err_empty_slot;
    return nullptr;
  }
  return ResultSet[handle];
}

int require_connection() {
  if (connection_serving()) return 1;
  global_error = talvor_err_not_connected;
  return 0;
}

// What is left of the reply being read: blocks announced and not yet read,
// or open_list while an open-ended list has not shown its marker. An
// operation reads only the blocks it needs; the rest is drained before the
// next command so the reply pipe stays in step, and a block the reply did
// not announce is missing instead of a wait for bytes that never come.
namespace {
enum { open_list = -1 };
int reply_blocks_left = 0;

void drain_reply() {
  while (reply_blocks_left != 0) {
    char *data = nullptr;
    int len = 0;
    if (channel_receive_block(&data, &len) == wire_broken) {
      reply_blocks_left = 0;
      return;
    }
    bool marker = is_end_of_list(data, len);
    free(data);
    if (reply_blocks_left > 0) --reply_blocks_left;
    if (marker) reply_blocks_left = 0;
  }
}
}  // namespace

void forget_reply() { reply_blocks_left = 0; }

void send_header(int command, int count) {
  drain_reply();
  channel_send_header(command, count);
}

void send_text(const char *text) { channel_send_text(text); }

void send_number(int value) {
  char text[16];
  snprintf(text, sizeof text, "%d", value);
  send_text(text);
}

void send_end_of_list() { send_text(END_OF_LIST); }

int read_reply(int expected1, int expected2, int *code, int *count) {
  int c = 0, n = 0;
  drain_reply();
  if (channel_receive_header(&c, &n) == 0) reply_blocks_left = n < 0 ? open_list : n;
  if (code) *code = c;
  if (count) *count = n;
  if (c == expected1 || (expected2 != -1 && c == expected2)) return 1;
  global_error = talvor_err_unexpected_reply;
  return 0;
}

char *read_block(int *len) {
  if (len) *len = 0;
  if (reply_blocks_left == 0) return nullptr;
  char *data = nullptr;
  int n = 0;
  int status = channel_receive_block(&data, &n);
  if (status == wire_broken) {
    reply_blocks_left = 0;
    return nullptr;
  }
  if (reply_blocks_left > 0) --reply_blocks_left;
  if (is_end_of_list(data, n)) reply_blocks_left = 0;
  if (len) *len = n;
  return data;
}

int read_number(int *value) {
  char *text = read_text_block();
  if (!text) {
    global_error = talvor_err_missing_block;
    return 0;
  }
  *value = read_int(text);
  free(text);
  return 1;
}

int skip_block() {
  char *data = read_block();
  if (!data) return 0;
  free(data);
  return 1;
}

char *read_text_block() {
  int len = 0;
  char *data = read_block(&len);
  if (!data) return nullptr;
  if (data[len - 1] == '\0') return data;
  char *text = (char *)realloc(data, (size_t)len + 1);
  if (!text) {
    free(data);
    return nullptr;
  }
  text[len] = '\0';
  return text;
}

void send_follow_up(int application_id) {
  send_header(command_follow_up, 1);
  send_number(application_id);
  read_reply(reply_ok);
}

int read_int(const char *text) {
  long long value = strtoll(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return (int)value;
}

int lowest_free_slot() {
  for (int i = 0; i < result_set_slots; ++i)
    if (!ResultSet[i]) return i;
  return -1;
}

char *empty_text() { return (char *)calloc(1, 1); }
