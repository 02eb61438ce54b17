// Process-wide state of the client core.
#ifndef TALVOR_CORE_STATE_H
#define TALVOR_CORE_STATE_H

#include <atomic>

enum { result_set_slots = 1024, name_field_size = 1024 };

struct ResultSetEntry {
  int application_id;
  int set_id;
  int form_id;
  int locked;
  int position;           // current record, from 1
  int previous_position;  // the position before the last move
};

// Last-error codes (see README for their meaning).
enum talvor_error_code {
  talvor_ok = 0,
  talvor_err_channel = 1,
  talvor_err_memory = 2,
  talvor_err_no_thread = 3,
  talvor_err_thread_still_running = 4,
  talvor_err_table_full = 5,
  talvor_err_missing_block = 6,
  talvor_err_unexpected_reply = 7,
  talvor_err_no_such_form = 8,
  talvor_err_login = 9,
  talvor_err_open_application = 10,
  talvor_err_empty_slot = 11,
  talvor_err_bad_handle = 12,
  talvor_err_no_sort_item = 13,
  talvor_err_bad_position = 14,
  talvor_err_user_level = 15,
  talvor_err_subset_table_full = 16,
  talvor_err_not_running = 17,
  talvor_err_not_connected = 18
};

extern char server_name[name_field_size];
extern char notify_server_name[name_field_size];
extern int global_error;
extern std::atomic<int> global_active_connection;
extern std::atomic<int> active_com;
extern int client_is_local;
extern int server_is_local;
extern char global_app_filename[name_field_size];
extern int global_user_level;
extern ResultSetEntry *ResultSet[result_set_slots];

#endif
