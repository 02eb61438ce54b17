// Running server programs under an authorizer, a time limit and an output
// limit.
#include "program.h"

#include <sqlite3.h>
#include <strings.h>

#include <chrono>
#include <map>
#include <memory>
#include <vector>

#include "database.h"
#include "reply_codes.h"
#include "schema.h"
#include "server_shared.h"
#include "session.h"

namespace {

typedef std::chrono::steady_clock clock_type;

int authorize(void *, int action, const char *a1, const char *a2, const char *, const char *) {
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_RECURSIVE:
      return SQLITE_OK;
    case SQLITE_READ:
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
      return a1 != nullptr && is_hidden_table(a1) ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_FUNCTION:
      return a2 != nullptr && strcasecmp(a2, "load_extension") == 0 ? SQLITE_DENY : SQLITE_OK;
    default:
      return SQLITE_DENY;  // schema, pragmas, attach, transactions
  }
}

// Stops a program that runs past its deadline.
int past_deadline(void *arg) {
  return clock_type::now() > *static_cast<clock_type::time_point *>(arg);
}

void append_escaped(std::string *out, const char *p, int n) {
  for (int i = 0; i < n; ++i) {
    switch (p[i]) {
      case '\\':
        *out += "\\\\";
        break;
      case '\t':
        *out += "\\t";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      case '\0':
        *out += "\\0";
        break;
      default:
        out->push_back(p[i]);
    }
  }
}

std::string lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

struct statements {
  std::vector<sqlite3_stmt *> list;
  ~statements() {
    for (sqlite3_stmt *st : list) sqlite3_finalize(st);
  }
};

// The fields of the current record, by lower-case name.
int record_fields(sqlite3 *db, const record_set &set, int64_t rowid,
                  std::map<std::string, std::unique_ptr<owned_value>> *fields) {
  std::string sql = "SELECT * FROM " + quote_ident(set.table) + " WHERE rowid = ?1";
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return 0;
  }
  sqlite3_bind_int64(st, 1, rowid);
  int found = sqlite3_step(st) == SQLITE_ROW;
  if (found) {
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      std::unique_ptr<owned_value> v(new owned_value);
      v->reset(sqlite3_value_dup(sqlite3_column_value(st, i)));
      (*fields)[lower(sqlite3_column_name(st, i))] = std::move(v);
    }
  }
  sqlite3_finalize(st);
  return found;
}

int bind_parameters(sqlite3_stmt *st, const std::string &argument, bool has_record,
                    int64_t rowid,
                    const std::map<std::string, std::unique_ptr<owned_value>> &fields) {
  for (int i = 1; i <= sqlite3_bind_parameter_count(st); ++i) {
    const char *name = sqlite3_bind_parameter_name(st, i);
    if (name == nullptr || name[0] == '\0' || name[0] == '?') return 0;
    std::string key = lower(name + 1);
    if (key == "arg") {
      sqlite3_bind_text(st, i, argument.data(), static_cast<int>(argument.size()),
                        SQLITE_TRANSIENT);
      continue;
    }
    auto f = fields.find(key);
    if (f != fields.end() && f->second->get() != nullptr) {
      sqlite3_bind_value(st, i, f->second->get());
    } else if (key == "rowid" && has_record) {
      sqlite3_bind_int64(st, i, rowid);
    } else {
      return 0;
    }
  }
  return 1;
}

int exec(sqlite3 *db, const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

}  // namespace

int run_program(app_context *app, const record_set &set, const std::string &program,
                const std::string &argument, bool may_change, const session_settings &settings,
                std::string *out) {
  out->clear();
  sqlite3 *db = app->db;
  int64_t rowid = 0;
  bool has_record = set.current >= 0 && static_cast<size_t>(set.current) < set.rows.size();
  std::map<std::string, std::unique_ptr<owned_value>> fields;
  if (has_record) {
    rowid = set.rows[static_cast<size_t>(set.current)];
    if (!record_fields(db, set, rowid, &fields)) return reply_not_found;
  }

  // Compile every statement first: nothing runs unless all are acceptable.
  statements prog;
  sqlite3_set_authorizer(db, authorize, nullptr);
  const char *tail = program.c_str();
  const char *end = tail + program.size();
  int rc = SQLITE_OK;
  while (tail < end && *tail != '\0') {
    sqlite3_stmt *st = nullptr;
    const char *before = tail;
    rc = sqlite3_prepare_v2(db, tail, static_cast<int>(end - tail), &st, &tail);
    if (rc != SQLITE_OK) break;
    if (st != nullptr) prog.list.push_back(st);
    if (st == nullptr && tail == before) break;  // nothing left that compiles to a statement
  }
  sqlite3_set_authorizer(db, nullptr, nullptr);
  if (rc != SQLITE_OK) return reply_bad_item;

  bool writes = false;
  for (sqlite3_stmt *st : prog.list) {
    if (!bind_parameters(st, argument, has_record, rowid, fields)) return reply_bad_item;
    if (!sqlite3_stmt_readonly(st)) writes = true;
  }
  if (writes && !may_change) return reply_not_permitted;
  bool started = false;
  if (writes) {
    int code = begin_change(app, &started);
    if (code != reply_ok) return code;
    if (exec(db, "SAVEPOINT talvor_program") != SQLITE_OK) {
      abandon_change(app, started);
      return reply_database_error;
    }
  }

  clock_type::time_point deadline =
      clock_type::now() + std::chrono::milliseconds(settings.program_timeout_ms);
  sqlite3_progress_handler(db, 1000, past_deadline, &deadline);
  // Kept while running: a statement recompiled on the way is checked again.
  sqlite3_set_authorizer(db, authorize, nullptr);
  int result = reply_ok;
  for (sqlite3_stmt *st : prog.list) {
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      int n = sqlite3_column_count(st);
      for (int i = 0; i < n; ++i) {
        if (i > 0) out->push_back('\t');
        const char *text = reinterpret_cast<const char *>(sqlite3_column_text(st, i));
        if (text != nullptr) append_escaped(out, text, sqlite3_column_bytes(st, i));
      }
      out->push_back('\n');
      if (out->size() > settings.max_program_output) break;
    }
    if (out->size() > settings.max_program_output) {
      result = reply_limit;
      break;
    }
    if (rc != SQLITE_DONE) {
      result = (rc & 0xff) == SQLITE_INTERRUPT ? reply_limit
               : (rc & 0xff) == SQLITE_AUTH     ? reply_not_permitted
                                                : reply_for_sqlite_error(rc);
      break;
    }
  }
  sqlite3_set_authorizer(db, nullptr, nullptr);
  sqlite3_progress_handler(db, 0, nullptr, nullptr);

  if (writes) {
    if (result != reply_ok && !sqlite3_get_autocommit(db))
      exec(db, "ROLLBACK TO talvor_program");
    if (!sqlite3_get_autocommit(db)) exec(db, "RELEASE talvor_program");
    if (result != reply_ok)
      abandon_change(app, started);
    else
      settle_transaction(app);
  }
  if (result != reply_ok) out->clear();
  return result;
}
