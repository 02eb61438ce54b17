// The demo application and user administration of application files.
#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>

#include "server.h"
#include "users.h"

const demo_user demo_users[3] = {
    {"viewer", "look-only", 0},
    {"clerk", "counter-42", 1},
    {"manager", "all-access", 2},
};

namespace {

const char demo_schema[] =
    "CREATE TABLE customers ("
    " id INTEGER PRIMARY KEY,"
    " name TEXT NOT NULL DEFAULT '',"
    " city TEXT,"
    " email TEXT,"
    " credit_limit REAL NOT NULL DEFAULT 0);"
    "CREATE TABLE orders ("
    " id INTEGER PRIMARY KEY,"
    " customer_id INTEGER REFERENCES customers(id) ON DELETE CASCADE,"
    " order_date TEXT NOT NULL DEFAULT (date('now')),"
    " status TEXT NOT NULL DEFAULT 'new',"
    " total REAL NOT NULL DEFAULT 0);"
    "CREATE TABLE order_lines ("
    " id INTEGER PRIMARY KEY,"
    " order_id INTEGER REFERENCES orders(id) ON DELETE CASCADE,"
    " product TEXT NOT NULL DEFAULT '',"
    " quantity INTEGER NOT NULL DEFAULT 1,"
    " unit_price REAL NOT NULL DEFAULT 0);"
    "CREATE INDEX orders_by_customer ON orders(customer_id);"
    "CREATE INDEX lines_by_order ON order_lines(order_id);";

const char demo_data[] =
    "INSERT INTO customers (id, name, city, email, credit_limit) VALUES"
    " (1, 'Anders Lindqvist', 'Uppsala', 'anders@lindqvist.example', 5000),"
    " (2, 'Berit Holm', 'Malmo', 'berit.holm@example.org', 12000),"
    " (3, 'Carlos Mendes', 'Porto', NULL, 2500),"
    " (4, 'Dana Whitfield', 'Leeds', 'dana@whitfield.example', 8000),"
    " (5, 'Emil Novak', 'Brno', 'emil.novak@example.net', 0),"
    " (6, 'Fatima Zahra', 'Rabat', 'fz@example.com', 15000),"
    " (7, 'Greta Olsen', 'Bergen', NULL, 3000),"
    " (8, 'Hugo Laurent', 'Lyon', 'hugo.laurent@example.fr', 7000);"
    "INSERT INTO orders (id, customer_id, order_date, status, total) VALUES"
    " (1, 1, '2024-01-15', 'shipped', 310.50),"
    " (2, 1, '2024-03-02', 'paid', 89.90),"
    " (3, 2, '2024-02-11', 'shipped', 1240.00),"
    " (4, 3, '2024-02-20', 'new', 45.00),"
    " (5, 4, '2024-03-05', 'paid', 560.25),"
    " (6, 4, '2024-03-18', 'cancelled', 0),"
    " (7, 6, '2024-01-30', 'shipped', 2210.00),"
    " (8, 6, '2024-03-21', 'new', 175.80),"
    " (9, 8, '2024-02-27', 'paid', 99.00);"
    "INSERT INTO order_lines (order_id, product, quantity, unit_price) VALUES"
    " (1, 'Oak desk', 1, 249.00), (1, 'Desk lamp', 1, 39.50), (1, 'Cable tray', 2, 11.00),"
    " (2, 'Office chair mat', 1, 89.90),"
    " (3, 'Standing desk', 2, 520.00), (3, 'Monitor arm', 2, 100.00),"
    " (4, 'Notebook A5', 10, 4.50),"
    " (5, 'Bookshelf', 1, 410.25), (5, 'Bookends', 3, 50.00),"
    " (7, 'Conference table', 1, 1800.00), (7, 'Chair', 4, 102.50),"
    " (8, 'Whiteboard', 1, 135.80), (8, 'Markers (pack)', 4, 10.00),"
    " (9, 'Ergonomic mouse', 1, 99.00);";

}  // namespace

int init_demo(const std::string &dir, std::string *error) {
  std::string path = dir + "/demo.db";
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "no such directory: " + dir;
    return 0;
  }
  if (stat(path.c_str(), &st) == 0) {
    *error = path + " exists already";
    return 0;
  }
  sqlite3 *db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    *error = "cannot create " + path;
    sqlite3_close(db);
    return 0;
  }
  bool ok = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, demo_schema, nullptr, nullptr, nullptr) == SQLITE_OK &&
            sqlite3_exec(db, demo_data, nullptr, nullptr, nullptr) == SQLITE_OK;
  for (const demo_user &u : demo_users) ok = ok && set_user(db, u.name, u.password, u.level);
  ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!ok) *error = std::string("cannot write the demo: ") + sqlite3_errmsg(db);
  sqlite3_close(db);
  if (!ok) remove(path.c_str());
  return ok;
}

int set_application_user(const std::string &path, const std::string &user,
                         const std::string &password, int level, std::string *error) {
  if (user.empty() || level < 0 || level > 2) {
    *error = "a user needs a name and a level of 0, 1 or 2";
    return 0;
  }
  sqlite3 *db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    *error = "cannot open " + path;
    sqlite3_close(db);
    return 0;
  }
  sqlite3_busy_timeout(db, 5000);
  int ok = set_user(db, user, password, level);
  if (!ok) *error = std::string("cannot store the user: ") + sqlite3_errmsg(db);
  sqlite3_close(db);
  return ok;
}
