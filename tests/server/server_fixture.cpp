// The fixture's data directory, database and server.
#include "server/server_fixture.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <string>

// The server's own user administration, as the command line uses it.
#include "users.h"
#include "support/temp_dir.h"

namespace talvortest {

const char reader_password[] = "read-only!";
const char writer_password[] = "w-r-i-t-e";
const char admin_password[] = "boss of all";

const std::vector<std::string> &shop_names() {
  static const std::vector<std::string> names = {"Alma Berg", "Bo Carlsson",  "Alva Dahl",
                                                 "Cid O'Hara", "Dee 50% off", "Eve*Star"};
  return names;
}

namespace {

const char shop_sql[] =
    "CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT, city TEXT, credit INTEGER,"
    " note TEXT);"
    "INSERT INTO customers VALUES"
    " (1, 'Alma Berg', 'Oslo', 100, NULL),"
    " (2, 'Bo Carlsson', 'Lund', 250, ''),"
    " (3, 'Alva Dahl', 'Oslo', 400, 'vip'),"
    " (4, 'Cid O''Hara', 'Cork', 250, 'quote'),"
    " (5, 'Dee 50% off', 'Rome', 50, 'pct'),"
    " (6, 'Eve*Star', 'Nice', 999, 'star');"
    "CREATE TABLE orders (id INTEGER PRIMARY KEY,"
    " customer_id INTEGER REFERENCES customers(id) ON DELETE CASCADE,"
    " item TEXT NOT NULL DEFAULT '', qty INTEGER NOT NULL DEFAULT 1);"
    "INSERT INTO orders VALUES (1, 1, 'pen', 3), (2, 1, 'ink', 1), (3, 3, 'pad', 5);"
    "CREATE TABLE memos (id INTEGER PRIMARY KEY, text TEXT);"
    "INSERT INTO memos VALUES (1, 'first');";

}  // namespace

void ReferenceServer::SetUp() {
  dir_ = make_temp_dir("talvor-server-test");
  ASSERT_FALSE(dir_.empty()) << "no scratch directory";
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(shop_path().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, shop_sql, nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_TRUE(set_user(db, "reader", reader_password, 0));
  ASSERT_TRUE(set_user(db, "writer", writer_password, 1));
  ASSERT_TRUE(set_user(db, "admin", admin_password, 2));
  sqlite3_close(db);

  config_.data_dir = dir_;
  config_.port = 0;
  config_.handshake_timeout_s = 5;
  config_.busy_timeout_ms = 200;
  config_.program_timeout_ms = 2000;
  std::string error;
  server_ = start_server(config_, &error);
  ASSERT_NE(server_, nullptr) << error;
  port_ = server_command_port(server_);
}

void ReferenceServer::TearDown() {
  stop_server(server_);
  server_ = nullptr;
  if (!dir_.empty()) remove_tree(dir_);
}

void ReferenceServer::restart(const std::function<void(server_config &)> &change) {
  stop_server(server_);
  change(config_);
  std::string error;
  server_ = start_server(config_, &error);
  ASSERT_NE(server_, nullptr) << error;
  port_ = server_command_port(server_);
}

std::unique_ptr<raw_client> ReferenceServer::session(const std::string &user,
                                                     const std::string &password, int *app) {
  std::unique_ptr<raw_client> c(new raw_client(port_));
  *app = c->start("shop", user, password);
  EXPECT_GT(*app, 0) << "session for " << user;
  return c;
}

std::vector<std::string> ReferenceServer::names(raw_client &c, int app, int set,
                                                const std::string &field) {
  std::vector<std::string> out;
  raw_reply t = c.total(app, set);
  if (!t.ok || t.code != 8 || t.blocks.size() != 1) {
    ADD_FAILURE() << "no total";
    return out;
  }
  int n = atoi(t.blocks[0].c_str());
  for (int i = 0; i < n; ++i) {
    raw_reply m = c.move(app, set, i);
    raw_reply v = c.get(app, set, field);
    if (m.code != 8 || v.code != 57 || v.blocks.size() != 3) {
      ADD_FAILURE() << "cannot read record " << i;
      break;
    }
    out.push_back(v.blocks[2]);
  }
  return out;
}

std::string ReferenceServer::query(const std::string &sql) {
  sqlite3 *db = nullptr;
  std::string out;
  if (sqlite3_open_v2(shop_path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    ADD_FAILURE() << "cannot open shop.db";
    return out;
  }
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char *t = sqlite3_column_text(st, 0);
      if (!out.empty()) out += ",";
      out += t == nullptr ? "NULL" : reinterpret_cast<const char *>(t);
    }
  } else {
    ADD_FAILURE() << sqlite3_errmsg(db);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

void ReferenceServer::exec(const std::string &sql) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(shop_path().c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 2000);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
}

}  // namespace talvortest
