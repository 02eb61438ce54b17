// Application databases of a session.
#include "database.h"

#include <sqlite3.h>
#include <string.h>

#include "reply_codes.h"
#include "schema.h"
#include "server_shared.h"
#include "session.h"

namespace {

// Every row the session inserts, updates or deletes becomes its lock until
// the transaction ends, so other sessions see the record as locked.
void note_changed_row(void *arg, int, const char *db_name, const char *table,
                      sqlite3_int64 rowid) {
  app_context *app = static_cast<app_context *>(arg);
  if (strcmp(db_name, "main") != 0 || app->owner == nullptr) return;
  app->owner->shared->cat.lock_record(app->app_id, table, rowid, app->owner->id);
}

void drop_locks(app_context *app) {
  if (app->owner != nullptr) app->owner->shared->cat.release_locks(app->app_id, app->owner->id);
}

int exec(sqlite3 *db, const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

}  // namespace

int open_app_database(app_context *app, const std::string &path, int busy_timeout_ms) {
  sqlite3 *db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW,
                           nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db);
    return 0;
  }
  sqlite3_busy_timeout(db, busy_timeout_ms);
  // Programs run client-written SQL: no attaching other files, no writes
  // that could corrupt the schema.
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, 1000000);
  // No value larger than a request may carry; a program cannot make the
  // server build a gigabyte blob either.
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 64 * 1024 * 1024);
  // Reading the schema also proves the file is a database.
  if (exec(db, "PRAGMA foreign_keys = ON") != SQLITE_OK ||
      exec(db, "SELECT count(*) FROM sqlite_schema") != SQLITE_OK) {
    sqlite3_close(db);
    return 0;
  }
  // Readers then see the last commit while another session's change waits
  // for its commit. A database that refuses it keeps its journal mode.
  exec(db, "PRAGMA journal_mode = WAL");
  app->db = db;
  sqlite3_update_hook(db, note_changed_row, app);
  return 1;
}

void close_app_database(app_context *app) {
  if (app->db == nullptr) return;
  if (!sqlite3_get_autocommit(app->db)) exec(app->db, "ROLLBACK");
  drop_locks(app);
  sqlite3_update_hook(app->db, nullptr, nullptr);
  sqlite3_close_v2(app->db);
  app->db = nullptr;
}

int reply_for_sqlite_error(int rc) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return reply_locked;
    default:
      return reply_database_error;
  }
}

int begin_change(app_context *app, bool *started) {
  if (started != nullptr) *started = false;
  if (!sqlite3_get_autocommit(app->db)) return reply_ok;
  int rc = exec(app->db, "BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return reply_for_sqlite_error(rc);
  if (started != nullptr) *started = true;
  return reply_ok;
}

void abandon_change(app_context *app, bool started) {
  if (started)
    rollback_changes(app);
  else
    settle_transaction(app);
}

int commit_changes(app_context *app) {
  int result = reply_ok;
  if (!sqlite3_get_autocommit(app->db)) {
    int rc = exec(app->db, "COMMIT");
    if (rc != SQLITE_OK) {
      result = reply_for_sqlite_error(rc);
      if (!sqlite3_get_autocommit(app->db)) exec(app->db, "ROLLBACK");
    }
  }
  drop_locks(app);
  return result;
}

void rollback_changes(app_context *app) {
  if (!sqlite3_get_autocommit(app->db)) exec(app->db, "ROLLBACK");
  drop_locks(app);
}

void settle_transaction(app_context *app) {
  if (sqlite3_get_autocommit(app->db)) drop_locks(app);
}

owned_value::~owned_value() { sqlite3_value_free(v_); }

void owned_value::reset(sqlite3_value *v) {
  sqlite3_value_free(v_);
  v_ = v;
}

int read_column(sqlite3 *db, const std::string &table, const std::string &column, int64_t rowid,
                owned_value *out) {
  std::string sql = "SELECT " + (column.empty() ? std::string("rowid") : quote_ident(column)) +
                    " FROM " + quote_ident(table) + " WHERE rowid = ?1";
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return 0;
  }
  sqlite3_bind_int64(st, 1, rowid);
  int found = 0;
  if (sqlite3_step(st) == SQLITE_ROW) {
    sqlite3_value *v = sqlite3_value_dup(sqlite3_column_value(st, 0));
    if (v != nullptr) {
      out->reset(v);
      found = 1;
    }
  }
  sqlite3_finalize(st);
  return found;
}

int row_exists(sqlite3 *db, const std::string &table, int64_t rowid) {
  owned_value v;
  return read_column(db, table, std::string(), rowid, &v);
}
