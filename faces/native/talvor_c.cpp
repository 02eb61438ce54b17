// The C interface: each function calls the public function of the same
// operation. The library reads its text arguments and keeps no pointer to
// them, so const texts are passed on as they are; only set-value, which
// trims its value in place, is given a copy.
#include <stdlib.h>
#include <string.h>

#include <talvor/talvor.h>

#include "api.h"
#include "state.h"

namespace {
char *text(const char *t) { return const_cast<char *>(t); }
}  // namespace

int talvor_connect(const char *address) { return TalvorConnect(text(address)); }
void talvor_disconnect(void) { TalvorDisconnect(); }
int talvor_error(void) { return TalvorError(); }

int talvor_search(const char *application, const char *form, int option1, int option2,
                  const char *search_text, const char *user, const char *password) {
  return TalvorSearch(text(application), text(form), option1, option2, text(search_text), text(user),
                      text(password));
}

void talvor_close(int handle) { TalvorClose(handle); }
int talvor_total(int handle) { return TalvorTotal(handle); }
void talvor_set_current_position(int handle, int position) { TalvorSetCurrentPosition(handle, position); }
int talvor_get_current_position(int handle) { return TalvorGetCurrentPosition(handle); }
int talvor_locked(int handle) { return TalvorLocked(handle); }
char *talvor_get_value(int handle, const char *field) { return TalvorGetValue(handle, text(field)); }

void talvor_set_value(int handle, const char *field, const char *value) {
  char *copy = nullptr;
  if (value) {
    copy = strdup(value);
    if (!copy) {
      // Nothing is sent: the caller's value must not be replaced by another.
      global_error = talvor_err_memory;
      return;
    }
  }
  TalvorSetValue(handle, text(field), copy);
  free(copy);
}

void talvor_create_new_record(int handle) { TalvorCreateNewRecord(handle); }
void talvor_remove_record(int handle) { TalvorRemoveRecord(handle); }
void talvor_delete_record(int handle) { TalvorDeleteRecord(handle); }
void talvor_sort(int handle, const char *sort_text) { TalvorSort(handle, text(sort_text)); }
int talvor_subset(int handle, const char *subset_name) { return TalvorSubSet(handle, text(subset_name)); }
int talvor_parent(int handle) { return TalvorParent(handle); }

void talvor_reparent(int handle, const char *subset_name, int target) {
  TalvorReparent(handle, text(subset_name), target);
}

char *talvor_run_program(int handle, const char *program, const char *argument, int flag) {
  return TalvorRunProgram(handle, text(program), text(argument), flag);
}

void talvor_free(void *t) { free(t); }

const char *talvor_error_text(int code) {
  static const char *const texts[] = {
      "no error",
      "the command channel could not be created",
      "out of memory",
      "no communications thread came up (no server, refused handshake or bad address)",
      "the communications thread did not end in time",
      "search: the result-set table is full",
      "a reply block is missing",
      "the server answered with an unexpected reply",
      "no such form",
      "login refused",
      "the application could not be opened",
      "the handle's slot holds no result set",
      "the handle is outside 0 to 1023",
      "no usable sort item",
      "position below 1",
      "the user level is too low for the operation",
      "subset or parent: the result-set table is full",
      "no communications thread is running",
      "no live connection",
      "a text equals the protocol's end-of-list marker and cannot be sent",
  };
  if (code >= 0 && code < (int)(sizeof texts / sizeof texts[0])) return texts[code];
  return "unknown error code";
}
