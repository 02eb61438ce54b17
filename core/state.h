// Process-wide state of the client core. The connection's names and
// counters belong to the communications thread (comm_thread.h).
#ifndef TALVOR_CORE_STATE_H
#define TALVOR_CORE_STATE_H

#include "comm_thread.h"
#include "talvor/api.h"

enum { result_set_slots = 1024 };

struct ResultSetEntry {
  int application_id;
  int set_id;
  int form_id;
  int locked;
  int position;           // current record, from 1
  int previous_position;  // the position before the last move
};

TALVOR_EXPORT extern int global_error;
TALVOR_EXPORT extern int server_is_local;
TALVOR_EXPORT extern char global_app_filename[name_field_size];
TALVOR_EXPORT extern int global_user_level;
TALVOR_EXPORT extern ResultSetEntry *ResultSet[result_set_slots];

#endif
