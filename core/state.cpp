// The process-wide state of the client core, one instance per loaded library.
#include "core/state.h"

char server_name[name_field_size];
char notify_server_name[name_field_size];
int global_error = 0;
std::atomic<int> global_active_connection{0};
std::atomic<int> active_com{0};
int client_is_local = 0;
int server_is_local = 0;
char global_app_filename[name_field_size];
int global_user_level = 2;
// Entries are malloc'ed by the operations that create them and freed by a
// successful close.
ResultSetEntry *ResultSet[result_set_slots];
