// The database side of a session's application: opening it, the session's
// transaction, and record access by rowid.
#ifndef TALVOR_SERVER_DATABASE_H
#define TALVOR_SERVER_DATABASE_H

#include <stdint.h>

#include <string>

struct sqlite3;
struct sqlite3_value;
struct app_context;

// Opens an application's database for a session (read-write, never
// creating it) with foreign keys enforced and write-ahead logging, and
// installs the hook that turns every row the session changes into a record
// lock. 1 on success.
int open_app_database(app_context *app, const std::string &path, int busy_timeout_ms);
// Rolls back anything uncommitted, drops the session's locks and closes.
void close_app_database(app_context *app);

// Starts the session's transaction unless one is open. Returns a reply
// code: 8, reply_locked when another session holds the database, or
// reply_database_error. *started (when given) tells whether this call
// opened the transaction.
int begin_change(app_context *app, bool *started = nullptr);
// After a change that failed: the client sends no commit for it, so a
// transaction the change opened itself (holding nothing else) is rolled
// back rather than left holding the database; otherwise only the locks of
// a transaction SQLite ended by itself are dropped.
void abandon_change(app_context *app, bool started);
// Commits the session's transaction (if any) and drops its locks. Returns
// 8, or a failure code after which the transaction has been rolled back.
int commit_changes(app_context *app);
// Rolls back and drops the locks.
void rollback_changes(app_context *app);
// After a failed change: when SQLite ended the transaction by itself, the
// locks go too.
void settle_transaction(app_context *app);
// The reply code for a failed SQLite call.
int reply_for_sqlite_error(int rc);

// A copied SQLite value, freed with the holder.
class owned_value {
 public:
  owned_value() = default;
  ~owned_value();
  owned_value(const owned_value &) = delete;
  owned_value &operator=(const owned_value &) = delete;
  void reset(sqlite3_value *v);
  sqlite3_value *get() const { return v_; }

 private:
  sqlite3_value *v_ = nullptr;
};

// Reads one column (or the rowid when column is empty) of a row. 1 with
// *out set, 0 when the row does not exist.
int read_column(sqlite3 *db, const std::string &table, const std::string &column, int64_t rowid,
                owned_value *out);
// 1 when the row exists.
int row_exists(sqlite3 *db, const std::string &table, int64_t rowid);

#endif
