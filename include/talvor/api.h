// Talvor client library: the public functions.
//
// One connection per process; callers serialise their calls. Every
// operation except TalvorError resets the last-error code at entry and leaves
// its outcome there; read it with TalvorError(). Handles are result-set slot
// numbers 0..1023. Positions count from 1. Texts returned by TalvorGetValue
// and TalvorRunProgram are new malloc'ed blocks the caller frees (an empty
// text on failure). Parameters are char*, not const char*: the types are
// part of the exported names.
#ifndef TALVOR_API_H
#define TALVOR_API_H

#include "talvor/export.h"

#define TALVOR_VERSION_MAJOR 0
#define TALVOR_VERSION_MINOR 1
#define TALVOR_VERSION_PATCH 0
#define TALVOR_VERSION "0.1.0"

// The codes TalvorError() returns.
enum talvor_error_code {
  talvor_ok = 0,
  talvor_err_channel = 1,                // the command channel could not be created
  talvor_err_memory = 2,                 // out of memory
  talvor_err_no_thread = 3,              // connect: no communications thread came up
  talvor_err_thread_still_running = 4,   // disconnect: the thread did not end in time
  talvor_err_table_full = 5,             // search: the result-set table is full
  talvor_err_missing_block = 6,          // a reply block is missing
  talvor_err_unexpected_reply = 7,       // the server answered with an unexpected reply
  talvor_err_no_such_form = 8,           // search: no such form
  talvor_err_login = 9,                  // search: login refused
  talvor_err_open_application = 10,      // search: the application could not be opened
  talvor_err_empty_slot = 11,            // the handle's slot holds no result set
  talvor_err_bad_handle = 12,            // the handle is outside 0..1023
  talvor_err_no_sort_item = 13,          // sort: no usable sort item
  talvor_err_bad_position = 14,          // position below 1
  talvor_err_user_level = 15,            // the user level is too low for the operation
  talvor_err_subset_table_full = 16,     // subset/parent: the result-set table is full
  talvor_err_not_running = 17,           // disconnect: no communications thread is running
  talvor_err_not_connected = 18          // no live connection
};

TALVOR_EXPORT int TalvorConnect(char *address);
TALVOR_EXPORT void TalvorDisconnect();
TALVOR_EXPORT int TalvorError();
TALVOR_EXPORT int TalvorSearch(char *application, char *form, int option1, int option2,
                               char *search_text, char *user, char *password);
TALVOR_EXPORT void TalvorClose(int handle);
TALVOR_EXPORT int TalvorTotal(int handle);
TALVOR_EXPORT void TalvorSetCurrentPosition(int handle, int position);
TALVOR_EXPORT int TalvorGetCurrentPosition(int handle);
TALVOR_EXPORT int TalvorLocked(int handle);
TALVOR_EXPORT char *TalvorGetValue(int handle, char *field);
TALVOR_EXPORT void TalvorSetValue(int handle, char *field, char *value);
TALVOR_EXPORT void TalvorCreateNewRecord(int handle);
TALVOR_EXPORT void TalvorRemoveRecord(int handle);
TALVOR_EXPORT void TalvorDeleteRecord(int handle);
TALVOR_EXPORT void TalvorSort(int handle, char *sort_text);
TALVOR_EXPORT int TalvorSubSet(int handle, char *subset_name);
TALVOR_EXPORT int TalvorParent(int handle);
TALVOR_EXPORT void TalvorReparent(int handle, char *subset_name, int target);
TALVOR_EXPORT char *TalvorRunProgram(int handle, char *program, char *argument, int flag);

#endif
