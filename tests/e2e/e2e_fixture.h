// End-to-end fixture: a reference server started in-process on ephemeral
// loopback ports over a fresh demo application, and this process's client
// connection to it through the public API.
//
// The demo application "demo" holds customers, their orders and the orders'
// lines (subrecords by foreign key), and the users of demo_users (levels 0,
// 1 and 2). Every test gets its own copy, so changes do not leak.
#ifndef TALVOR_TESTS_E2E_E2E_FIXTURE_H
#define TALVOR_TESTS_E2E_E2E_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server.h"

namespace talvore2e {

// The demo user of this level (0 viewer, 1 clerk, 2 manager).
const demo_user &user_of_level(int level);

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Changes the server's settings before it starts.
  virtual void configure(server_config &) {}

  // TalvorSearch on the demo application as the user of `level`; the
  // handle, or -1. Every handle made is closed at tear-down.
  int search(const std::string &form, const std::string &text, int level = 2);
  int search_as(const std::string &form, const std::string &text, const std::string &user,
                const std::string &password, const std::string &app = "demo");
  int subset(int handle, const std::string &name);
  int parent(int handle);

  // The value of field in the current record (TalvorGetValue, freed).
  std::string value(int handle, const std::string &field);
  // TalvorSetValue with a writable copy of value.
  void set_value(int handle, const std::string &field, const std::string &value);
  // The field of every record of the set in set order, moving through it.
  std::vector<std::string> column(int handle, const std::string &field);
  // Moves to the first record whose field has this value; its position or 0.
  int find(int handle, const std::string &field, const std::string &wanted);
  std::string run(int handle, const std::string &program, const std::string &arg, int flag);

  // Straight from demo.db, beside the server: the first column of every
  // row, in order.
  std::vector<std::string> db_column(const std::string &sql);
  std::string db_value(const std::string &sql);  // the first row's, or ""

  std::string dir_;
  std::string db_path_;
  talvor_server *server_ = nullptr;
  std::string address_;
  int command_port_ = 0;
  std::vector<int> handles_;
};

}  // namespace talvore2e

#endif
