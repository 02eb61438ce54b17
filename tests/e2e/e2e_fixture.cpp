// The fixture's data directory, server and client connection.
#include "e2e/e2e_fixture.h"

#include <sqlite3.h>
#include <stdlib.h>

#include "api.h"
#include "support/temp_dir.h"

namespace talvore2e {

namespace {

using talvortest::make_temp_dir;
using talvortest::remove_tree;

// A writable copy for the library's char* parameters.
std::vector<char> text(const std::string &s) {
  std::vector<char> v(s.begin(), s.end());
  v.push_back('\0');
  return v;
}

std::string take(char *t) {
  if (t == nullptr) return "(null)";
  std::string s = t;
  free(t);
  return s;
}

}  // namespace

const demo_user &user_of_level(int level) {
  for (const demo_user &u : demo_users)
    if (u.level == level) return u;
  ADD_FAILURE() << "no demo user of level " << level;
  return demo_users[0];
}

void EndToEnd::SetUp() {
  dir_ = make_temp_dir("talvor-e2e");
  ASSERT_FALSE(dir_.empty()) << "no scratch directory";
  db_path_ = dir_ + "/demo.db";
  std::string error;
  ASSERT_EQ(init_demo(dir_, &error), 1) << error;

  server_config config;
  config.data_dir = dir_;
  config.port = 0;
  // A change that meets another session's lock gives up quickly.
  config.busy_timeout_ms = 300;
  configure(config);
  server_ = start_server(config, &error);
  ASSERT_NE(server_, nullptr) << error;
  address_ = server_address(server_);
  command_port_ = server_command_port(server_);

  std::vector<char> address = text(address_);
  ASSERT_EQ(TalvorConnect(address.data()), 1) << "code " << TalvorError();
}

void EndToEnd::TearDown() {
  for (int h : handles_) TalvorClose(h);
  TalvorDisconnect();
  stop_server(server_);
  server_ = nullptr;
  if (!dir_.empty()) remove_tree(dir_);
}

int EndToEnd::search(const std::string &form, const std::string &search_text, int level) {
  const demo_user &u = user_of_level(level);
  return search_as(form, search_text, u.name, u.password);
}

int EndToEnd::search_as(const std::string &form, const std::string &search_text,
                        const std::string &user, const std::string &password,
                        const std::string &app) {
  std::vector<char> a = text(app), f = text(form), s = text(search_text), u = text(user),
                    p = text(password);
  int h = TalvorSearch(a.data(), f.data(), 0, 0, s.data(), u.data(), p.data());
  if (h >= 0) handles_.push_back(h);
  return h;
}

int EndToEnd::subset(int handle, const std::string &name) {
  std::vector<char> n = text(name);
  int h = TalvorSubSet(handle, n.data());
  if (h >= 0) handles_.push_back(h);
  return h;
}

int EndToEnd::parent(int handle) {
  int h = TalvorParent(handle);
  if (h >= 0) handles_.push_back(h);
  return h;
}

std::string EndToEnd::value(int handle, const std::string &field) {
  std::vector<char> f = text(field);
  return take(TalvorGetValue(handle, f.data()));
}

void EndToEnd::set_value(int handle, const std::string &field, const std::string &v) {
  std::vector<char> f = text(field), val = text(v);
  TalvorSetValue(handle, f.data(), val.data());
}

std::vector<std::string> EndToEnd::column(int handle, const std::string &field) {
  std::vector<std::string> out;
  int total = TalvorTotal(handle);
  EXPECT_GE(total, 0) << "code " << TalvorError();
  for (int pos = 1; pos <= total; ++pos) {
    TalvorSetCurrentPosition(handle, pos);
    EXPECT_EQ(TalvorError(), 0) << "move to " << pos;
    out.push_back(value(handle, field));
    EXPECT_EQ(TalvorError(), 0) << "read " << field << " at " << pos;
  }
  return out;
}

int EndToEnd::find(int handle, const std::string &field, const std::string &wanted) {
  int total = TalvorTotal(handle);
  for (int pos = 1; pos <= total; ++pos) {
    TalvorSetCurrentPosition(handle, pos);
    if (TalvorError() == 0 && value(handle, field) == wanted) return pos;
  }
  return 0;
}

std::string EndToEnd::run(int handle, const std::string &program, const std::string &arg,
                          int flag) {
  std::vector<char> p = text(program), a = text(arg);
  return take(TalvorRunProgram(handle, p.data(), a.data(), flag));
}

std::vector<std::string> EndToEnd::db_column(const std::string &sql) {
  std::vector<std::string> out;
  sqlite3 *db = nullptr;
  if (sqlite3_open_v2(db_path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << db_path_;
    sqlite3_close(db);
    return out;
  }
  sqlite3_busy_timeout(db, 2000);
  sqlite3_stmt *st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db);
  } else {
    while (sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char *t = sqlite3_column_text(st, 0);
      out.push_back(t ? reinterpret_cast<const char *>(t) : "");
    }
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

std::string EndToEnd::db_value(const std::string &sql) {
  std::vector<std::string> rows = db_column(sql);
  return rows.empty() ? "" : rows[0];
}

}  // namespace talvore2e
