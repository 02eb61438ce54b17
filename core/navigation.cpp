// Record navigation: counting the records of a result set, moving to one,
// asking the server which one is current, and the lock state of the current
// record. Positions count from 1 here and from 0 on the wire.
#include "api.h"
#include "request.h"

// Number of records as the server reports it, or -1 (code in global_error).
int TalvorInnerTotal(int handle) {
  global_error = talvor_ok;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry || !require_connection()) return -1;
  send_header(command_total, 2);
  send_number(entry->application_id);
  send_number(entry->set_id);
  int total = 0;
  if (!read_reply(reply_ok) || !read_number(&total)) return -1;
  return total;
}

// Makes record position (from 1) current; outcome in global_error. The old
// position becomes previous_position as soon as the checks pass, whatever
// the server answers; position and locked change only on success.
void TalvorInnerSetCurrentPosition(int handle, int position) {
  global_error = talvor_ok;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry) return;
  if (position < 1) {
    global_error = talvor_err_bad_position;
    return;
  }
  if (!require_connection()) return;
  entry->previous_position = entry->position;
  send_header(command_set_position, 3);
  send_number(entry->application_id);
  send_number(entry->set_id);
  send_number(position - 1);
  int locked = 0;
  if (!read_reply(reply_ok) || !read_number(&locked)) return;
  entry->locked = locked;
  entry->position = position;
}

// The server's current record (from 1), or -1 (code in global_error).
int TalvorInnerGetCurrentPosition(int handle) {
  global_error = talvor_ok;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry || !require_connection()) return -1;
  send_header(command_get_position, 2);
  send_number(entry->application_id);
  send_number(entry->set_id);
  int position = 0;
  if (!read_reply(reply_ok) || !read_number(&position)) return -1;
  return position + 1;
}

// The lock state last reported for the current record, or -1 (code in
// global_error). Needs no channel.
int TalvorInnerLocked(int handle) {
  global_error = talvor_ok;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry) return -1;
  return entry->locked;
}
