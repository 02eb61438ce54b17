// Search and result sets: TalvorInnerSearch (open, log in, look up the form,
// allocate and bind a record set, search), password scrambling and
// TalvorInnerClose.
#include <stdlib.h>
#include <string.h>

#include "api.h"
#include "request.h"
#include "protocol.h"

namespace {

const char item_separator = '%';
const char item_escape = '\\';

// Cuts text in place into search items: each separator becomes a NUL, so the
// items lie one after another in text. Returns the number of items and sets
// *first to the first of them (the next item starts after the previous one's
// NUL). There is no limit on the number of items.
int cut_search_items(char *text, char **first) {
  *first = text;
  if (text[0] == '\0') return 0;
  char *p = text;
  if (*p == item_separator) {
    ++p;
    if (*p == '\0') return 0;
  }
  *first = p;
  int items = 1;
  char *scan = p;
  while (*scan) {
    bool escaped = scan > text && scan[-1] == item_escape;
    if (*scan != item_separator || escaped) {
      ++scan;
      continue;
    }
    *scan = '\0';
    ++items;
    char *next = scan + 1;
    if (*next == '\0') break;  // separator at the end: an empty last item
    // The character right after a separator is never itself a separator.
    scan = next + 1;
  }
  return items;
}

// Sends the items that cut_search_items left in place.
void send_search_items(const char *first, int items) {
  const char *item = first;
  for (int i = 0; i < items; ++i) {
    send_text(item);
    item += strlen(item) + 1;
  }
}

// Opens the application. 1 with *application_id set; 0 when the search ends
// (the code is 0 for a reply that is neither 43 nor 144).
int open_application(char *application, int *application_id) {
  send_header(command_open_application, 2);
  send_text(application);
  send_text("0");
  int code = 0, count = 0;
  if (!read_reply(reply_number, reply_application, &code, &count)) {
    // A refusal to open is not an error of this call: the search just ends.
    global_error = talvor_ok;
    if (code == reply_search_ended && count > 0) skip_block();
    return 0;
  }
  if (!read_number(application_id)) return 0;
  if (*application_id < 0) {
    global_error = talvor_err_open_application;
    return 0;
  }
  if (count > 1) skip_block();
  return 1;
}

// Logs in; stores the reported user level. 1 on reply 8, else code 9 (or 2
// when the password could not be scrambled) and 0.
int log_in(int application_id, char *user, char *password) {
  char *scrambled = nullptr;
  if (user && password) {
    scrambled = MyCrypt(password);
    if (!scrambled) {
      global_error = talvor_err_memory;
      return 0;
    }
  } else {
    user = nullptr;  // both travel as empty texts
  }
  send_header(command_login, 3);
  send_number(application_id);
  send_text(user);
  send_text(scrambled);
  free(scrambled);
  if (!read_reply(reply_ok)) {
    global_error = talvor_err_login;
    return 0;
  }
  // A missing block ends this reply quietly; the level stays as it was.
  if (!skip_block()) return 1;
  char *level = read_text_block();
  if (level) {
    global_user_level = read_int(level);
    free(level);
  }
  return 1;
}

// 1 when one of the items that cut_search_items left in place is the
// END_OF_LIST marker: sent in the search's open list it would end the list
// early, and the server would read the items after it as a command of their
// own.
int has_marker_item(const char *first, int items) {
  const char *item = first;
  for (int i = 0; i < items; ++i) {
    if (text_is_end_of_list(item)) return 1;
    item += strlen(item) + 1;
  }
  return 0;
}

// 1 when none of the search's other texts, the scrambled password included,
// is the END_OF_LIST marker (see require_sendable).
int sendable_login(const char *application, const char *form, const char *user, char *password) {
  if (text_is_end_of_list(application) || text_is_end_of_list(form) || text_is_end_of_list(user)) return 0;
  if (!user || !password) return 1;  // the password is not sent then
  char *scrambled = MyCrypt(password);
  int ok = !text_is_end_of_list(scrambled);
  free(scrambled);
  return ok;
}

// Runs the steps after opening; returns the new handle or -1.
int search_steps(char *application, char *form, int option1, int option2, char *first_item, int items,
                 char *user, char *password) {
  int application_id = 0;
  if (!open_application(application, &application_id)) return -1;
  if (!log_in(application_id, user, password)) return -1;

  send_header(command_find_form, 2);
  send_number(application_id);
  send_text(form);
  int form_id = 0;
  if (!read_reply(reply_number) || !read_number(&form_id)) return -1;
  if (form_id == -1) {
    global_error = talvor_err_no_such_form;
    return -1;
  }

  send_header(command_allocate_set, 1);
  send_number(application_id);
  if (!read_reply(reply_number)) return -1;
  int set_id = -1;  // a missing block leaves -1, and the search goes on
  char *set_text = read_text_block();
  if (set_text) {
    set_id = read_int(set_text);
    free(set_text);
  }

  send_header(command_bind_set, 3);
  send_number(application_id);
  send_number(set_id);
  send_number(form_id);
  if (!read_reply(reply_ok)) return -1;

  send_header(command_search, -1);
  send_number(application_id);
  send_number(form_id);
  send_number(set_id);
  send_number(option1);
  send_number(option2);
  send_number(0);
  send_number(-1);
  send_number(0);
  send_search_items(first_item, items);
  send_end_of_list();
  int unused = 0, locked = 0;
  if (!read_reply(reply_ok) || !read_number(&unused) || !read_number(&locked)) return -1;

  int slot = lowest_free_slot();
  if (slot < 0) {
    global_error = talvor_err_table_full;
    return -1;
  }
  ResultSetEntry *entry = (ResultSetEntry *)malloc(sizeof(ResultSetEntry));
  if (!entry) {
    global_error = talvor_err_memory;
    return -1;
  }
  entry->application_id = application_id;
  entry->set_id = set_id;
  entry->form_id = form_id;
  entry->locked = locked;
  entry->position = 1;
  entry->previous_position = 1;
  ResultSet[slot] = entry;
  return slot;
}

}  // namespace

// A new scrambled copy of text (caller frees); null for a null text or when
// the copy cannot be allocated.
char *MyCrypt(char *text) {
  if (!text) return nullptr;
  size_t len = strlen(text);
  char *copy = (char *)malloc(len + 1);
  if (!copy) return nullptr;
  memcpy(copy, text, len + 1);
  talvor_scramble_bytes((unsigned char *)copy, len);
  return copy;
}

// The handle of the new result set, or -1 (code in global_error; 0 when the
// search text is null or the server would not open the application).
int TalvorInnerSearch(char *application, char *form, int option1, int option2, char *search_text,
                      char *user, char *password) {
  global_error = talvor_ok;
  if (!search_text) return -1;
  if (!require_connection()) return -1;
  char *items_text = strdup(search_text);
  if (!items_text) return -1;
  char *first_item = nullptr;
  int items = cut_search_items(items_text, &first_item);
  int handle = -1;
  if (has_marker_item(first_item, items) || !sendable_login(application, form, user, password))
    global_error = talvor_err_unsendable_text;
  else
    handle = search_steps(application, form, option1, option2, first_item, items, user, password);
  free(items_text);
  return handle;
}

// Moves the set back to its previous record, drops it on the server and, on
// reply 8, frees its slot. Outcome in global_error.
void TalvorInnerClose(int handle) {
  global_error = talvor_ok;
  ResultSetEntry *entry = require_entry(handle);
  if (!entry || !require_connection()) return;
  // The move back reports its own code, which stays; the close goes on.
  if (entry->previous_position > 0) TalvorInnerSetCurrentPosition(handle, entry->previous_position);
  send_header(command_close_set, 5);
  send_number(entry->application_id);
  send_number(entry->set_id);
  send_number(1);
  send_number(-1);
  send_text("");
  if (!read_reply(reply_ok)) return;
  free(entry);
  ResultSet[handle] = nullptr;
}
