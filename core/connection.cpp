// Connect, disconnect and the last-error code.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "channel.h"
#include "comm_thread.h"
#include "api.h"
#include "request.h"
#include "protocol.h"
#include "state.h"

namespace {

enum { default_port = 20000, wait_ms = 10000 };

// Splits "host[:port[:port]]" in place: the host ends at the first ':',
// each port is read as atoi reads it. Returns the number of ports (0..2).
int split_address(char *copy, int ports[2]) {
  int found = 0;
  for (char *p = copy; *p && found < 2; ++p) {
    if (*p != ':') continue;
    ports[found++] = read_int(p + 1);
    *p = '\0';
  }
  return found;
}

// Fills the two name fields. 0 when an address does not fit them.
int fill_names(const char *host, int ports[2], int found) {
  int command_port = found >= 1 ? ports[0] : default_port;
  int notify_port = found == 2 ? ports[1] : command_port + 1;
  int a = snprintf(server_name, sizeof server_name, "%s:%d", host, command_port);
  int b = snprintf(notify_server_name, sizeof notify_server_name, "%s:%d", host, notify_port);
  return a >= 0 && a < (int)sizeof server_name && b >= 0 && b < (int)sizeof notify_server_name;
}

}  // namespace

int TalvorInnerConnect(char *address) {
  global_error = talvor_ok;
  server_name[0] = '\0';
  notify_server_name[0] = '\0';
  client_is_local = 1;

  if (global_active_connection == 1) TalvorInnerDisconnect();
  forget_reply();  // whatever was left unread belongs to the old channel

  bool started = false;
  if (address) {
    char *copy = strdup(address);
    if (!copy) {
      fputs("Error: Cannot allocate memory for the server name.\n", stderr);
    } else {
      int ports[2] = {0, 0};
      int found = split_address(copy, ports);
      int fits = fill_names(copy, ports, found);
      free(copy);
      if (!fits) {
        // Refused before anything starts: the names would be cut.
        server_name[0] = '\0';
        notify_server_name[0] = '\0';
      } else if (!start_communications()) {
        fputs("Error: Communications failure.\n", stderr);
      } else if (create_server_task() != 0) {
        stop_communications();
      } else {
        started = true;
      }
    }
  }
  // Nothing started, or the thread gave up, or it is still trying after the
  // whole wait: the connect has failed.
  if (!started || wait_for_thread_start(wait_ms) != com_start_serving) {
    global_error = talvor_err_no_thread;
    return 0;
  }
  return 1;
}

void TalvorInnerDisconnect() {
  if (active_com <= 0) {
    global_error = talvor_err_not_running;
    return;
  }
  global_error = talvor_ok;
  channel_send_header(command_disconnect, 0);
  if (!wait_for_threads_to_end(wait_ms)) global_error = talvor_err_thread_still_running;
  stop_communications();
  forget_reply();
  global_active_connection = 0;
}

int TalvorInnerError() { return global_error; }
