// Schema lookups through SQLite's table-valued pragma functions, with the
// names bound as parameters.
#include "schema.h"

#include <sqlite3.h>
#include <strings.h>

#include <map>

namespace {

bool same_name(const std::string &a, const std::string &b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

std::string column_text(sqlite3_stmt *st, int i) {
  const unsigned char *t = sqlite3_column_text(st, i);
  return t == nullptr ? std::string() : std::string(reinterpret_cast<const char *>(t));
}

// The key a foreign key without a named parent column refers to: the
// parent's primary key, or its rowid when that key is the rowid itself.
int primary_key_of(sqlite3 *db, const std::string &table, std::string *key) {
  std::vector<column_info> cols;
  if (!table_columns(db, table, &cols)) return 0;
  const column_info *pk = nullptr;
  int pk_count = 0;
  for (const column_info &c : cols) {
    if (c.pk > 0) {
      ++pk_count;
      pk = &c;
    }
  }
  key->clear();
  if (pk_count == 1 && strcasecmp(pk->type.c_str(), "INTEGER") != 0) *key = pk->name;
  return pk_count <= 1;
}

}  // namespace

bool is_hidden_table(const std::string &name) {
  return strncasecmp(name.c_str(), "sqlite_", 7) == 0 ||
         strncasecmp(name.c_str(), "talvor_", 7) == 0;
}

std::string quote_ident(const std::string &name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q.push_back('"');
    q.push_back(c);
  }
  q.push_back('"');
  return q;
}

int find_form(sqlite3 *db, const std::string &name, std::string *actual) {
  if (name.empty() || is_hidden_table(name)) return 0;
  sqlite3_stmt *st = nullptr;
  const char *sql =
      "SELECT name FROM pragma_table_list WHERE schema = 'main' AND type = 'table' "
      "AND wr = 0 AND name = ?1 COLLATE NOCASE";
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return 0;
  }
  sqlite3_bind_text(st, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  int found = 0;
  if (sqlite3_step(st) == SQLITE_ROW) {
    *actual = column_text(st, 0);
    found = !is_hidden_table(*actual);
  }
  sqlite3_finalize(st);
  return found;
}

int table_columns(sqlite3 *db, const std::string &table, std::vector<column_info> *out) {
  out->clear();
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT cid, name, type, pk FROM pragma_table_info(?1)", -1, &st,
                         nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return 0;
  }
  sqlite3_bind_text(st, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  while (sqlite3_step(st) == SQLITE_ROW) {
    column_info c;
    c.cid = sqlite3_column_int(st, 0);
    c.name = column_text(st, 1);
    c.type = column_text(st, 2);
    c.pk = sqlite3_column_int(st, 3);
    out->push_back(c);
  }
  sqlite3_finalize(st);
  return !out->empty();
}

int find_column(sqlite3 *db, const std::string &table, const std::string &field,
                std::string *actual, bool *rowid_alias) {
  std::vector<column_info> cols;
  if (field.empty() || !table_columns(db, table, &cols)) return 0;
  int pk_count = 0;
  for (const column_info &c : cols) pk_count += c.pk > 0;
  for (const column_info &c : cols) {
    if (same_name(c.name, field)) {
      *actual = c.name;
      *rowid_alias = c.pk > 0 && pk_count == 1 && strcasecmp(c.type.c_str(), "INTEGER") == 0;
      return 1;
    }
  }
  return 0;
}

int find_parent_link(sqlite3 *db, const std::string &child_table,
                     const std::string &parent_table, parent_link *out) {
  std::vector<column_info> cols;
  if (!table_columns(db, child_table, &cols)) return 0;

  struct fk {
    int columns = 0;
    std::string from, table, to;
  };
  std::map<int, fk> keys;
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db,
                         "SELECT id, \"table\", \"from\", \"to\" FROM pragma_foreign_key_list(?1)",
                         -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return 0;
  }
  sqlite3_bind_text(st, 1, child_table.data(), static_cast<int>(child_table.size()),
                    SQLITE_TRANSIENT);
  while (sqlite3_step(st) == SQLITE_ROW) {
    fk &k = keys[sqlite3_column_int(st, 0)];
    ++k.columns;
    k.table = column_text(st, 1);
    k.from = column_text(st, 2);
    k.to = column_text(st, 3);
  }
  sqlite3_finalize(st);

  // Table order decides, not the order SQLite lists keys in.
  for (const column_info &c : cols) {
    for (const auto &entry : keys) {
      const fk &k = entry.second;
      if (k.columns != 1 || !same_name(k.from, c.name)) continue;
      if (!parent_table.empty() && !same_name(k.table, parent_table)) continue;
      std::string parent;
      if (!find_form(db, k.table, &parent)) continue;
      std::string key;
      if (k.to.empty()) {
        if (!primary_key_of(db, parent, &key)) continue;
      } else {
        bool alias = false;
        if (!find_column(db, parent, k.to, &key, &alias)) continue;
        if (alias) key.clear();
      }
      out->child_table = child_table;
      out->column = c.name;
      out->parent_table = parent;
      out->parent_key = key;
      return 1;
    }
  }
  return 0;
}
