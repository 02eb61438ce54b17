// Forms, record sets, searching and sorting.
#include <sqlite3.h>

#include <unordered_set>

#include "database.h"
#include "handlers.h"
#include "reply_codes.h"
#include "schema.h"
#include "search_items.h"
#include "server_shared.h"

namespace {

// Blocks of a search before its items: application, form, set, the two
// options, and three fixed numbers.
const size_t search_fixed_blocks = 8;

struct bound_text {
  int index;
  std::string text;
};

// Builds the WHERE clause of a search. Only schema names and fixed text
// enter the SQL; every value is a numbered parameter listed in *params.
int build_conditions(sqlite3 *db, const std::string &table, const std::vector<std::string> &items,
                     std::string *where, std::vector<bound_text> *params) {
  int next = 1;
  for (const std::string &item : items) {
    search_condition c;
    int rc = parse_search_item(block_text(item), &c);
    if (rc == item_empty) continue;
    if (rc != item_ok) return 0;
    std::string column;
    bool alias = false;
    if (!find_column(db, table, c.field, &column, &alias)) return 0;
    std::string col = quote_ident(column);
    std::string cond;
    if (c.is_pattern) {
      cond = col + (c.op == op_eq ? " GLOB ?" : " NOT GLOB ?") + num(next);
      params->push_back({next++, c.pattern});
    } else if (c.value.empty() && c.op == op_eq) {
      cond = "(" + col + " IS NULL OR " + col + " = '')";
    } else if (c.value.empty() && c.op == op_ne) {
      cond = "(" + col + " IS NOT NULL AND " + col + " <> '')";
    } else {
      cond = col + " " + search_op_sql(c.op) + " ?" + num(next);
      params->push_back({next++, c.value});
    }
    *where += (where->empty() ? " WHERE " : " AND ") + cond;
  }
  return 1;
}

// The key value a subset's rows must hold in their link column.
int subset_key(sqlite3 *db, const record_set &set, owned_value *key) {
  return read_column(db, set.link.parent_table, set.link.parent_key, set.parent_rowid, key);
}

}  // namespace

reply handle_form_lookup(session &s, const request &req) {
  if (req.blocks.size() != 2) return fail(reply_malformed);
  reply r;
  app_context *app = session_app(s, req.blocks[0], 0, &r);
  if (app == nullptr) return r;
  std::string table;
  if (!find_form(app->db, block_text(req.blocks[1]), &table)) return number_reply(-1);
  return number_reply(s.shared->cat.form_id(app->app_id, table));
}

reply handle_allocate_set(session &s, const request &req) {
  if (req.blocks.size() != 1) return fail(reply_malformed);
  reply r;
  app_context *app = session_app(s, req.blocks[0], 0, &r);
  if (app == nullptr) return r;
  record_set *set = new_set(s, app->app_id);
  if (set == nullptr) return fail(reply_limit);
  return number_reply(set->id);
}

reply handle_bind_set(session &s, const request &req) {
  if (req.blocks.size() != 3) return fail(reply_malformed);
  reply r;
  app_context *app = session_app(s, req.blocks[0], 0, &r);
  if (app == nullptr) return r;
  long long set_id, form_id;
  if (!block_int(req.blocks[1], &set_id) || !block_int(req.blocks[2], &form_id))
    return fail(reply_malformed);
  auto it = s.sets.find(static_cast<int>(set_id));
  if (set_id < 1 || set_id > 0x7fffffff || it == s.sets.end() || it->second.app_id != app->app_id)
    return fail(reply_not_found);
  std::string table;
  if (form_id < 1 || form_id > 0x7fffffff ||
      !s.shared->cat.form_table(app->app_id, static_cast<int>(form_id), &table) ||
      !find_form(app->db, table, &table))
    return fail(reply_not_found);
  record_set &set = it->second;
  set.form_id = static_cast<int>(form_id);
  set.table = table;
  set.rows.clear();
  set.current = -1;
  set.is_subset = false;
  return ok_reply();
}

reply handle_search(session &s, const request &req) {
  if (req.blocks.size() < search_fixed_blocks) return fail(reply_malformed);
  reply r;
  app_context *app = session_app(s, req.blocks[0], 0, &r);
  if (app == nullptr) return r;
  long long numbers[search_fixed_blocks];
  for (size_t i = 1; i < search_fixed_blocks; ++i) {
    if (!block_int(req.blocks[i], &numbers[i])) return fail(reply_malformed);
  }
  record_set *set = session_set(s, app, req.blocks[2], &r);
  if (set == nullptr) return r;
  if (numbers[1] != set->form_id) return fail(reply_malformed);

  std::vector<std::string> items(req.blocks.begin() + search_fixed_blocks, req.blocks.end());
  std::string where;
  std::vector<bound_text> params;
  if (!build_conditions(app->db, set->table, items, &where, &params)) return fail(reply_bad_item);

  owned_value key;
  int key_index = static_cast<int>(params.size()) + 1;
  if (set->is_subset) {
    if (!subset_key(app->db, *set, &key)) return fail(reply_not_found);
    where += (where.empty() ? " WHERE " : " AND ") + quote_ident(set->link.column) + " = ?" +
             num(key_index);
  }

  std::string sql = "SELECT rowid FROM " + quote_ident(set->table) + where + " ORDER BY rowid";
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(app->db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return fail(reply_bad_item);
  }
  for (const bound_text &p : params)
    sqlite3_bind_text(st, p.index, p.text.data(), static_cast<int>(p.text.size()),
                      SQLITE_TRANSIENT);
  if (set->is_subset) sqlite3_bind_value(st, key_index, key.get());

  std::vector<int64_t> rows;
  long every = s.shared->settings.progress_every;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    rows.push_back(sqlite3_column_int64(st, 0));
    if (every > 0 && rows.size() % static_cast<size_t>(every) == 0)
      send_progress(s, static_cast<long long>(rows.size()));
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) return fail(reply_for_sqlite_error(rc));

  set->rows.swap(rows);
  set->current = set->rows.empty() ? -1 : 0;
  return ok_reply({num(static_cast<long long>(set->rows.size())), num(lock_state(s, *set, 0))});
}

reply handle_sort(session &s, const request &req) {
  if (req.blocks.size() < 4) return fail(reply_malformed);
  reply r;
  app_context *app = session_app(s, req.blocks[0], 0, &r);
  if (app == nullptr) return r;
  record_set *set = session_set(s, app, req.blocks[1], &r);
  if (set == nullptr) return r;
  long long count;
  if (!block_int(req.blocks[2], &count) || count != static_cast<long long>(req.blocks.size() - 3))
    return fail(reply_malformed);

  std::string order;
  for (size_t i = 3; i < req.blocks.size(); ++i) {
    sort_key k;
    std::string column;
    bool alias = false;
    if (!parse_sort_item(block_text(req.blocks[i]), &k) ||
        !find_column(app->db, set->table, k.field, &column, &alias))
      return fail(reply_bad_item);
    order += quote_ident(column) + (k.descending ? " DESC, " : " ASC, ");
  }
  order += "rowid";

  // The set's rowids go in as one bound JSON array: any number of them,
  // and nothing but digits from our own list.
  std::string ids = "[";
  for (size_t i = 0; i < set->rows.size(); ++i) ids += (i ? "," : "") + num(set->rows[i]);
  ids += "]";
  std::string sql = "SELECT rowid FROM " + quote_ident(set->table) +
                    " WHERE rowid IN (SELECT value FROM json_each(?1)) ORDER BY " + order;
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(app->db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return fail(reply_database_error);
  }
  sqlite3_bind_text(st, 1, ids.data(), static_cast<int>(ids.size()), SQLITE_TRANSIENT);
  std::vector<int64_t> rows;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) rows.push_back(sqlite3_column_int64(st, 0));
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) return fail(reply_for_sqlite_error(rc));

  // The current record stays current wherever it moved to; records
  // deleted meanwhile drop out.
  int64_t current = 0;
  bool had_current = current_rowid(*set, &current);
  set->rows.swap(rows);
  set->current = set->rows.empty() ? -1 : 0;
  if (had_current) {
    for (size_t i = 0; i < set->rows.size(); ++i) {
      if (set->rows[i] == current) set->current = static_cast<long>(i);
    }
  }
  return ok_reply({num(static_cast<long long>(set->rows.size()))});
}

reply handle_close_set(session &s, const request &req) {
  if (req.blocks.size() != 5) return fail(reply_malformed);
  reply r;
  app_context *app = session_app(s, req.blocks[0], 0, &r);
  if (app == nullptr) return r;
  long long id;
  if (!block_int(req.blocks[1], &id)) return fail(reply_malformed);
  auto it = s.sets.find(static_cast<int>(id));
  if (id < 1 || id > 0x7fffffff || it == s.sets.end() || it->second.app_id != app->app_id)
    return fail(reply_not_found);
  s.sets.erase(it);
  return ok_reply();
}
