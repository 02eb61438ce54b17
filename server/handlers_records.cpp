// Navigation, field values and record edits.
#include <sqlite3.h>

#include "database.h"
#include "handlers.h"
#include "reply_codes.h"
#include "schema.h"
#include "server_shared.h"

namespace {

// An absent (NULL) value travels as a text whose first byte is ESC.
const char absent_value[] = "\x1b";

// Runs one change statement on the current record of a set after checking
// that no other session holds it.
// The value, when there is one, is parameter 1 and the rowid follows it;
// an absent one is bound as NULL.
struct change_value {
  bool present = false;
  bool absent = false;
  std::string text;
};

int change_current(session &s, app_context *app, const record_set &set, const std::string &sql,
                   const change_value &value) {
  int64_t rowid;
  if (!current_rowid(set, &rowid)) return reply_out_of_range;
  if (s.shared->cat.record_locked(app->app_id, set.table, rowid, s.id)) return reply_locked;
  bool started = false;
  int code = begin_change(app, &started);
  if (code != reply_ok) return code;
  sqlite3_stmt *st = nullptr;
  int rc = sqlite3_prepare_v2(app->db, sql.c_str(), -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    int n = 1;
    if (value.present && value.absent) {
      sqlite3_bind_null(st, n++);
    } else if (value.present) {
      sqlite3_bind_text(st, n++, value.text.data(), static_cast<int>(value.text.size()),
                        SQLITE_TRANSIENT);
    }
    sqlite3_bind_int64(st, n, rowid);
    rc = sqlite3_step(st);
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) {
    abandon_change(app, started);
    return reply_for_sqlite_error(rc);
  }
  if (sqlite3_changes(app->db) == 0) {  // the record is gone
    abandon_change(app, started);
    return reply_not_found;
  }
  return reply_ok;
}

}  // namespace

reply handle_total(session &s, const request &req) {
  app_context *app;
  record_set *set;
  reply r;
  if (!resolve(s, req, 2, 0, &app, &set, &r)) return r;
  return ok_reply({num(static_cast<long long>(set->rows.size()))});
}

reply handle_move(session &s, const request &req) {
  app_context *app;
  record_set *set;
  reply r;
  if (!resolve(s, req, 3, 0, &app, &set, &r)) return r;
  long long pos;
  if (!block_int(req.blocks[2], &pos)) return fail(reply_malformed);
  // The first position of an empty set is accepted: every new set is moved
  // there, and an empty one is a normal outcome (a record without
  // subrecords). It leaves no current record.
  if (pos == 0 && set->rows.empty()) {
    set->current = -1;
    return ok_reply({num(0)});
  }
  if (pos < 0 || pos >= static_cast<long long>(set->rows.size())) return fail(reply_out_of_range);
  set->current = static_cast<long>(pos);
  return ok_reply({num(lock_state(s, *set, set->current))});
}

reply handle_position(session &s, const request &req) {
  app_context *app;
  record_set *set;
  reply r;
  if (!resolve(s, req, 2, 0, &app, &set, &r)) return r;
  return ok_reply({num(set->current)});
}

reply handle_get_value(session &s, const request &req) {
  app_context *app;
  record_set *set;
  reply r;
  if (!resolve(s, req, 4, 0, &app, &set, &r)) return r;
  long long unused;
  if (!block_int(req.blocks[2], &unused)) return fail(reply_malformed);
  int64_t rowid;
  if (!current_rowid(*set, &rowid)) return fail(reply_out_of_range);
  std::string column;
  bool alias = false;
  if (!find_column(app->db, set->table, block_text(req.blocks[3]), &column, &alias))
    return fail(reply_not_found);
  owned_value v;
  if (!read_column(app->db, set->table, column, rowid, &v)) return fail(reply_not_found);

  // The two numbers: SQLite's storage class of the value and its length.
  reply out;
  out.code = reply_value;
  int type = sqlite3_value_type(v.get());
  if (type == SQLITE_NULL) {
    out.blocks = {num(type), num(0), absent_value};
  } else {
    const unsigned char *text = sqlite3_value_text(v.get());
    int len = sqlite3_value_bytes(v.get());
    std::string value = text == nullptr ? std::string()
                                        : std::string(reinterpret_cast<const char *>(text),
                                                      static_cast<size_t>(len));
    out.blocks = {num(type), num(len), value};
  }
  return out;
}

reply handle_set_value(session &s, const request &req) {
  app_context *app;
  record_set *set;
  reply r;
  // Blocks: 1, application, set, field, value.
  if (!resolve(s, req, 5, 1, &app, &set, &r, 1)) return r;
  long long first;
  if (!block_int(req.blocks[0], &first)) return fail(reply_malformed);
  std::string column;
  bool alias = false;
  if (!find_column(app->db, set->table, block_text(req.blocks[3]), &column, &alias))
    return fail(reply_not_found);
  // The rowid alias is the record's identity, which sets refer to.
  if (alias) return fail(reply_not_permitted);

  change_value value;
  value.present = true;
  value.text = block_text(req.blocks[4]);
  // A value starting with ESC stands for absent, as in replies.
  value.absent = !value.text.empty() && value.text[0] == '\x1b';
  int code = change_current(s, app, *set,
                            "UPDATE " + quote_ident(set->table) + " SET " + quote_ident(column) +
                                " = ?1 WHERE rowid = ?2",
                            value);
  return code == reply_ok ? ok_reply() : fail(code);
}

reply handle_create(session &s, const request &req) {
  app_context *app;
  record_set *set;
  reply r;
  if (!resolve(s, req, 3, 1, &app, &set, &r)) return r;
  long long form;
  if (!block_int(req.blocks[2], &form)) return fail(reply_malformed);
  if (form != set->form_id) return fail(reply_malformed);

  owned_value key;
  std::string sql;
  if (set->is_subset) {
    // A new subrecord belongs to the set's parent record.
    if (!read_column(app->db, set->link.parent_table, set->link.parent_key, set->parent_rowid,
                     &key))
      return fail(reply_not_found);
    sql = "INSERT INTO " + quote_ident(set->table) + " (" + quote_ident(set->link.column) +
          ") VALUES (?1)";
  } else {
    sql = "INSERT INTO " + quote_ident(set->table) + " DEFAULT VALUES";
  }
  bool started = false;
  int code = begin_change(app, &started);
  if (code != reply_ok) return fail(code);
  sqlite3_stmt *st = nullptr;
  int rc = sqlite3_prepare_v2(app->db, sql.c_str(), -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    if (set->is_subset) sqlite3_bind_value(st, 1, key.get());
    rc = sqlite3_step(st);
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) {
    abandon_change(app, started);
    return fail(reply_for_sqlite_error(rc));
  }
  set->rows.push_back(sqlite3_last_insert_rowid(app->db));
  set->current = static_cast<long>(set->rows.size()) - 1;
  return ok_reply();
}

reply handle_remove(session &s, const request &req) {
  app_context *app;
  record_set *set;
  reply r;
  if (!resolve(s, req, 2, 0, &app, &set, &r)) return r;
  if (set->current < 0) return fail(reply_out_of_range);
  remove_at(*set, set->current);
  return ok_reply();
}

reply handle_delete(session &s, const request &req) {
  app_context *app;
  record_set *set;
  reply r;
  if (!resolve(s, req, 2, 2, &app, &set, &r)) return r;
  int64_t rowid;
  if (!current_rowid(*set, &rowid)) return fail(reply_out_of_range);
  int code = change_current(s, app, *set,
                            "DELETE FROM " + quote_ident(set->table) + " WHERE rowid = ?1",
                            change_value());
  if (code != reply_ok) return fail(code);
  // No follow-up commit comes after a delete, so it is committed here.
  code = commit_changes(app);
  if (code != reply_ok) return fail(code);
  std::string table = set->table;
  forget_row(s, app->app_id, table, rowid);
  return ok_reply({num(static_cast<long long>(set->rows.size())),
                   num(lock_state(s, *set, set->current))});
}
