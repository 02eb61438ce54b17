// Record editing: adding a record to the set's form, taking the current
// record out of the set, deleting it.
#include "api.h"
#include "request.h"

// Adds a new record (needs level 1); outcome in global_error.
void TalvorInnerCreateNewRecord(int handle) {
  global_error = talvor_ok;
  if (!require_level(1)) return;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry || !require_connection()) return;
  send_header(command_create_record, 3);
  send_number(entry->application_id);
  send_number(entry->set_id);
  send_number(entry->form_id);
  if (!read_reply(reply_ok)) return;
  send_follow_up(entry->application_id);
}

// Takes the current record out of the result set; outcome in global_error.
void TalvorInnerRemoveRecord(int handle) {
  global_error = talvor_ok;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry || !require_connection()) return;
  send_header(command_remove_record, 2);
  send_number(entry->application_id);
  send_number(entry->set_id);
  read_reply(reply_ok);
}

// Deletes the current record (needs level 2) and stores the lock state the
// server reports; outcome in global_error.
void TalvorInnerDeleteRecord(int handle) {
  global_error = talvor_ok;
  if (!require_level(2)) return;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry || !require_connection()) return;
  send_header(command_delete_record, 2);
  send_number(entry->application_id);
  send_number(entry->set_id);
  int unused = 0, locked = 0;
  if (!read_reply(reply_ok) || !read_number(&unused) || !read_number(&locked)) return;
  entry->locked = locked;
}
