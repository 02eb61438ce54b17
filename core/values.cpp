// Field values of the current record: reading one and writing one.
#include <stdlib.h>

#include "api.h"
#include "request.h"
#include "stringarray.h"

namespace {
const char absent_value_mark = 27;  // ESC: the field has no value
}

// A new text holding the field's value; a new empty text when the value is
// absent or the call failed (code in global_error). Null only when memory
// runs out.
char *TalvorInnerGetValue(int handle, char *field) {
  global_error = talvor_ok;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry || !require_connection() || !require_sendable({field})) return empty_text();
  send_header(command_get_value, 4);
  send_number(entry->application_id);
  send_number(entry->set_id);
  send_number(0);
  send_text(field);
  if (!read_reply(reply_value)) return empty_text();
  // All three blocks are read even when one is missing, so the reply is
  // consumed whole.
  int unused = 0;
  read_number(&unused);
  read_number(&unused);
  char *value = read_text_block();
  if (!value) {
    global_error = talvor_err_missing_block;
    return empty_text();
  }
  if (value[0] == absent_value_mark) {
    free(value);
    return empty_text();
  }
  return value;
}

// Writes the field of the current record; outcome in global_error. The value
// text is trimmed in place before it is sent.
void TalvorInnerSetValue(int handle, char *field, char *value) {
  global_error = talvor_ok;
  if (!require_level(1)) return;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry || !require_connection()) return;
  strip_leading_trailing_spaces(value);
  if (!require_sendable({field, value})) return;
  send_header(command_set_value, -1);
  send_number(1);
  send_number(entry->application_id);
  send_number(entry->set_id);
  send_text(field);
  send_text(value);
  send_end_of_list();
  if (!read_reply(reply_ok)) return;
  send_follow_up(entry->application_id);
}
