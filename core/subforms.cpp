// Subforms: the result set of a subset of the current record, the result set
// of its parent, and moving the current record under another parent.
#include <stdlib.h>

#include "api.h"
#include "request.h"

namespace {

// Sends command (with the subset text when with_subset), records the set the
// server answers as a new result set and makes its first record current.
// Returns the new handle, or -1 (code in global_error).
int open_related_set(int handle, int command, bool with_subset, char *subset_name) {
  global_error = talvor_ok;
  ResultSetEntry *source = require_entry(handle);
  if (!source || !require_connection() || !require_sendable({with_subset ? subset_name : nullptr})) return -1;
  send_header(command, with_subset ? 3 : 2);
  send_number(source->application_id);
  send_number(source->set_id);
  if (with_subset) send_text(subset_name);
  int set_id = 0, form_id = 0;
  if (!read_reply(reply_ok) || !read_number(&set_id) || !read_number(&form_id)) return -1;

  int slot = lowest_free_slot();
  if (slot < 0) {
    global_error = talvor_err_subset_table_full;
    return -1;
  }
  ResultSetEntry *entry = (ResultSetEntry *)malloc(sizeof(ResultSetEntry));
  if (!entry) {
    global_error = talvor_err_memory;
    return -1;
  }
  entry->application_id = source->application_id;
  entry->set_id = set_id;
  entry->form_id = form_id;
  entry->locked = 0;
  entry->position = 1;
  entry->previous_position = 1;
  ResultSet[slot] = entry;
  // The move reports its own code; the new handle is the result regardless.
  TalvorInnerSetCurrentPosition(slot, 1);
  return slot;
}

}  // namespace

// Handle of the result set of subset_name of the current record, or -1.
int TalvorInnerSubSet(int handle, char *subset_name) {
  return open_related_set(handle, command_subset, true, subset_name);
}

// Handle of the result set of the current record's parent, or -1.
int TalvorInnerParent(int handle) { return open_related_set(handle, command_parent, false, nullptr); }

// Moves the current record of handle under the target set's record (needs
// level 1); outcome in global_error.
void TalvorInnerReparent(int handle, char *subset_name, int target) {
  global_error = talvor_ok;
  if (!require_level(1)) return;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry) return;
  ResultSetEntry *target_entry = require_entry(target);
  if (!target_entry || !require_connection() || !require_sendable({subset_name})) return;
  send_header(command_reparent, 4);
  send_number(entry->application_id);
  send_number(entry->set_id);
  send_text(subset_name);
  send_number(target_entry->set_id);
  if (!read_reply(reply_ok)) return;
  send_follow_up(entry->application_id);
}
