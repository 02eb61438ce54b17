// What a client may name in an application database, checked against the
// schema SQLite reports: forms are the visible rowid tables, fields their
// columns, and a parent link is a single-column foreign key.
//
// Names a client sends are only ever compared with these lists; generated
// SQL uses the names as the schema spells them, quoted as identifiers.
#ifndef TALVOR_SERVER_SCHEMA_H
#define TALVOR_SERVER_SCHEMA_H

#include <string>
#include <vector>

struct sqlite3;

// Tables kept from clients: SQLite's own and the server's (user table).
bool is_hidden_table(const std::string &name);

// name in double quotes, inner quotes doubled.
std::string quote_ident(const std::string &name);

// 1 when name (ignoring ASCII case) is a form of the database, with its
// spelling in the schema stored in *actual; 0 when it is not.
int find_form(sqlite3 *db, const std::string &name, std::string *actual);

struct column_info {
  int cid = 0;
  std::string name;
  std::string type;
  int pk = 0;  // position in the primary key, 0 when not part of it
};

// The columns of a table in their order. 0 when the table has none (absent).
int table_columns(sqlite3 *db, const std::string &table, std::vector<column_info> *out);

// 1 when field (ignoring ASCII case) is a column of table, with its schema
// spelling in *actual and *rowid_alias telling whether it is the table's
// INTEGER PRIMARY KEY (which stands for the row's identity).
int find_column(sqlite3 *db, const std::string &table, const std::string &field,
                std::string *actual, bool *rowid_alias);

// A child table's link to its parent.
struct parent_link {
  std::string child_table;
  std::string column;        // the child's column holding the parent key
  std::string parent_table;
  std::string parent_key;    // the parent's column it refers to; empty: the rowid
};

// The parent link of child_table: its first column, in table order, that
// is a single-column foreign key to a form; when parent_table is not empty,
// only keys to that table count. 1 when found.
int find_parent_link(sqlite3 *db, const std::string &child_table,
                     const std::string &parent_table, parent_link *out);

#endif
