// The process-wide state of the client core, one instance per loaded library.
#include "state.h"

int global_error = 0;
int server_is_local = 0;
char global_app_filename[name_field_size];
int global_user_level = 2;
// Entries are malloc'ed by the operations that create them and freed by a
// successful close.
ResultSetEntry *ResultSet[result_set_slots];
