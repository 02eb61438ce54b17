// One client session: its connection, the applications it opened (each
// with its own database connection, login and transaction) and its record
// sets. A session lives on one thread; only the catalog is shared.
#ifndef TALVOR_SERVER_SESSION_H
#define TALVOR_SERVER_SESSION_H

#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frames.h"
#include "schema.h"

class socket_t;
class catalog;
struct sqlite3;
struct server_shared;

struct record_set {
  int id = 0;
  int app_id = 0;
  int form_id = -1;            // -1 until bound to a form
  std::string table;           // the form's table, schema spelling
  std::vector<int64_t> rows;   // rowids in set order
  long current = -1;           // index of the current record, -1: none
  // A set made from a parent record holds only that record's subrecords.
  bool is_subset = false;
  parent_link link;            // link.child_table is table
  int64_t parent_rowid = 0;
};

struct session;

struct app_context {
  int app_id = 0;
  std::string name;
  sqlite3 *db = nullptr;
  bool logged_in = false;
  std::string user;
  int level = 0;
  session *owner = nullptr;
};

struct session {
  server_shared *shared = nullptr;
  socket_t *sock = nullptr;
  long id = 0;
  bool greeted = false;       // the first exchange was accepted
  bool handshake_done = false;
  bool holds_client_slot = false;
  std::map<int, std::unique_ptr<app_context>> apps;
  std::map<int, record_set> sets;
  int next_set_id = 1;
};

// Runs a session until the client ends it or the connection fails, then
// rolls back what it left uncommitted and closes its databases. The socket
// stays the caller's.
void run_session(server_shared *shared, socket_t *sock, long id);

// Handles one request; *end is set when the session should end after the
// reply. Exposed for the dispatch of each group of commands.
reply dispatch(session &s, const request &req, bool *end);

// Sends one progress reply (84) with a block: the count so far.
void send_progress(session &s, long long count);

#endif
