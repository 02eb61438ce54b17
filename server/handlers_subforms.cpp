// Subrecords, parent records and moving a subrecord to another parent.
//
// The link between a form and its subform is a foreign key: the subform's
// first single-column foreign key (in column order) that refers to the
// parent's table. Its target column, or the parent's primary key when it
// names none, holds the value that ties a subrecord to its parent.
#include <sqlite3.h>

#include "database.h"
#include "handlers.h"
#include "reply_codes.h"
#include "schema.h"
#include "server_shared.h"

namespace {

// The rowids of table whose column (empty: rowid) equals key, in rowid order.
int rows_matching(sqlite3 *db, const std::string &table, const std::string &column,
                  sqlite3_value *key, std::vector<int64_t> *rows) {
  std::string sql = "SELECT rowid FROM " + quote_ident(table) + " WHERE " +
                    (column.empty() ? std::string("rowid") : quote_ident(column)) +
                    " = ?1 ORDER BY rowid";
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return 0;
  }
  sqlite3_bind_value(st, 1, key);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) rows->push_back(sqlite3_column_int64(st, 0));
  sqlite3_finalize(st);
  return rc == SQLITE_DONE;
}

reply new_set_reply(const record_set &set) {
  return ok_reply({num(set.id), num(set.form_id)});
}

}  // namespace

reply handle_subset(session &s, const request &req) {
  app_context *app;
  record_set *parent;
  reply r;
  if (!resolve(s, req, 3, 0, &app, &parent, &r)) return r;
  int64_t parent_row;
  if (!current_rowid(*parent, &parent_row)) return fail(reply_out_of_range);
  std::string child;
  parent_link link;
  if (!find_form(app->db, block_text(req.blocks[2]), &child) ||
      !find_parent_link(app->db, child, parent->table, &link))
    return fail(reply_not_found);
  owned_value key;
  if (!read_column(app->db, parent->table, link.parent_key, parent_row, &key))
    return fail(reply_not_found);
  std::vector<int64_t> rows;
  if (!rows_matching(app->db, child, link.column, key.get(), &rows))
    return fail(reply_database_error);

  record_set *set = new_set(s, app->app_id);
  if (set == nullptr) return fail(reply_limit);
  set->table = child;
  set->form_id = s.shared->cat.form_id(app->app_id, child);
  set->rows.swap(rows);
  set->current = set->rows.empty() ? -1 : 0;
  set->is_subset = true;
  set->link = link;
  set->parent_rowid = parent_row;
  return new_set_reply(*set);
}

reply handle_parent(session &s, const request &req) {
  app_context *app;
  record_set *child;
  reply r;
  if (!resolve(s, req, 2, 0, &app, &child, &r)) return r;
  int64_t child_row;
  if (!current_rowid(*child, &child_row)) return fail(reply_out_of_range);
  // A subset knows which parent it came from; any other set uses the
  // form's first parent link.
  parent_link link;
  if (child->is_subset)
    link = child->link;
  else if (!find_parent_link(app->db, child->table, std::string(), &link))
    return fail(reply_not_found);
  owned_value key;
  if (!read_column(app->db, child->table, link.column, child_row, &key) ||
      sqlite3_value_type(key.get()) == SQLITE_NULL)
    return fail(reply_not_found);
  std::vector<int64_t> rows;
  if (!rows_matching(app->db, link.parent_table, link.parent_key, key.get(), &rows))
    return fail(reply_database_error);
  if (rows.empty()) return fail(reply_not_found);

  record_set *set = new_set(s, app->app_id);
  if (set == nullptr) return fail(reply_limit);
  set->table = link.parent_table;
  set->form_id = s.shared->cat.form_id(app->app_id, link.parent_table);
  set->rows.swap(rows);
  set->current = 0;
  return new_set_reply(*set);
}

reply handle_reparent(session &s, const request &req) {
  app_context *app;
  record_set *source;
  reply r;
  if (!resolve(s, req, 4, 1, &app, &source, &r)) return r;
  record_set *target = session_set(s, app, req.blocks[3], &r);
  if (target == nullptr) return r;
  int64_t row, new_parent;
  if (!current_rowid(*source, &row) || !current_rowid(*target, &new_parent))
    return fail(reply_out_of_range);

  // The subset text names the subform the moved record belongs to; empty
  // means the source set's own form.
  std::string named = block_text(req.blocks[2]);
  std::string child;
  if (!named.empty() && (!find_form(app->db, named, &child) || child != source->table))
    return fail(reply_not_found);
  parent_link link;
  if (!find_parent_link(app->db, source->table, target->table, &link))
    return fail(reply_not_found);
  owned_value key;
  if (!read_column(app->db, target->table, link.parent_key, new_parent, &key))
    return fail(reply_not_found);

  if (s.shared->cat.record_locked(app->app_id, source->table, row, s.id))
    return fail(reply_locked);
  bool started = false;
  int code = begin_change(app, &started);
  if (code != reply_ok) return fail(code);
  std::string sql = "UPDATE " + quote_ident(source->table) + " SET " + quote_ident(link.column) +
                    " = ?1 WHERE rowid = ?2";
  sqlite3_stmt *st = nullptr;
  int rc = sqlite3_prepare_v2(app->db, sql.c_str(), -1, &st, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_bind_value(st, 1, key.get());
    sqlite3_bind_int64(st, 2, row);
    rc = sqlite3_step(st);
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) {
    abandon_change(app, started);
    return fail(reply_for_sqlite_error(rc));
  }
  if (sqlite3_changes(app->db) == 0) {
    abandon_change(app, started);
    return fail(reply_not_found);
  }

  // A subset holds the subrecords of one parent: a record moved away leaves it.
  if (source->is_subset && source->link.column == link.column &&
      (source->link.parent_table != target->table || source->parent_rowid != new_parent))
    remove_at(*source, source->current);
  return ok_reply();
}
