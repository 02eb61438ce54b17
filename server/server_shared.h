// What every session of one server shares: settings, the catalog and the
// count of client slots in use.
#ifndef TALVOR_SERVER_SERVER_SHARED_H
#define TALVOR_SERVER_SERVER_SHARED_H

#include <stddef.h>

#include <mutex>
#include <string>

#include "catalog.h"
#include "frames.h"

struct session_settings {
  int max_clients = 64;
  long progress_every = 10000;      // rows between progress replies of a search; 0: none
  int handshake_timeout_s = 30;     // wait for the first exchanges of a connection
  int busy_timeout_ms = 2000;       // wait for another session's transaction
  int program_timeout_ms = 10000;   // longest run of one server program
  size_t max_program_output = 16u * 1024u * 1024u;
  size_t max_sets = 4096;           // record sets per session
  size_t max_applications = 64;     // open applications per session
  request_limits limits;
  // Until one of its applications is logged in, a session's requests carry
  // a few short texts (handshake, application name, user, password), so
  // they get far less room than after; the smaller of the two applies.
  request_limits pre_login_limits{16, 16u * 1024u};
};

struct server_shared {
  explicit server_shared(const std::string &data_dir) : cat(data_dir) {}
  session_settings settings;
  catalog cat;

  // A client slot is taken by an accepted first exchange. 1 when taken.
  int take_client_slot() {
    std::lock_guard<std::mutex> g(slots_mutex);
    if (clients_in >= settings.max_clients) return 0;
    ++clients_in;
    return 1;
  }
  void release_client_slot() {
    std::lock_guard<std::mutex> g(slots_mutex);
    --clients_in;
  }

 private:
  std::mutex slots_mutex;
  int clients_in = 0;
};

#endif
