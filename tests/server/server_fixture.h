// A reference server started in-process on ephemeral loopback ports over a
// fresh data directory holding the application "shop":
//
//   customers (id, name, city, credit, note)  six rows, see shop_rows()
//   orders    (id, customer_id -> customers, item, qty)  subrecords of customers
//   memos     (id, text)                       no parent link
//   users: reader (level 0), writer (1), admin (2); passwords below.
#ifndef TALVOR_TESTS_SERVER_SERVER_FIXTURE_H
#define TALVOR_TESTS_SERVER_SERVER_FIXTURE_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "server/raw_client.h"
#include "server.h"

namespace talvortest {

extern const char reader_password[];
extern const char writer_password[];
extern const char admin_password[];

// Customer names in id order (ids 1 to 6).
const std::vector<std::string> &shop_names();

class ReferenceServer : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Stops the server and starts it again with changed settings.
  void restart(const std::function<void(server_config &)> &change);

  // A client through handshake, open and login on "shop"; app id in *app.
  std::unique_ptr<raw_client> session(const std::string &user, const std::string &password,
                                      int *app);
  // The names of every record of a set, in set order (moves through it).
  std::vector<std::string> names(raw_client &c, int app, int set,
                                 const std::string &field = "name");

  // Direct access to shop.db, beside the server: the first column of each
  // result row, joined by ','.
  std::string query(const std::string &sql);
  void exec(const std::string &sql);
  std::string shop_path() const { return dir_ + "/shop.db"; }

  std::string dir_;
  server_config config_;
  talvor_server *server_ = nullptr;
  int port_ = 0;
};

}  // namespace talvortest

#endif
