// The public client API against the reference server: every operation's
// effect on real data, checked through the API and straight in the
// application's database file.
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "api.h"
#include "e2e/e2e_fixture.h"
#include "server/raw_client.h"

namespace talvore2e {
namespace {

std::string quoted(const std::string &s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// ---- search ----

TEST_F(EndToEnd, SearchFindsTheRecordsItsItemsDescribe) {
  // Each search text beside a SQL condition meaning the same.
  struct search_case {
    const char *text;
    const char *where;
  };
  const search_case cases[] = {
      {"", "1"},
      {"city=Lyon", "city = 'Lyon'"},
      {"credit_limit>=8000", "credit_limit >= 8000"},
      {"name=*en*%credit_limit<5000", "name GLOB '*en*' AND credit_limit < 5000"},
      {" city <> Lyon % credit_limit > 0 ", "city <> 'Lyon' AND credit_limit > 0"},
      {"name=?ugo*", "name GLOB '?ugo*'"},
      {"email=", "email IS NULL OR email = ''"},
      {"email<>", "email IS NOT NULL AND email <> ''"},
      {"city=Nowhere", "0"},
  };
  for (const search_case &c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> expected =
        db_column(std::string("SELECT name FROM customers WHERE ") + c.where + " ORDER BY rowid");
    int h = search("customers", c.text);
    ASSERT_GE(h, 0) << "code " << TalvorError();
    EXPECT_EQ(TalvorTotal(h), static_cast<int>(expected.size()));
    EXPECT_EQ(column(h, "name"), expected);
    TalvorClose(h);
    EXPECT_EQ(TalvorError(), 0);
  }
}

TEST_F(EndToEnd, EmptyResultHasNoCurrentRecord) {
  int h = search("customers", "city=Nowhere");
  ASSERT_GE(h, 0);
  EXPECT_EQ(TalvorTotal(h), 0);
  EXPECT_EQ(TalvorGetCurrentPosition(h), 0);  // the server's -1, counted from 1
  EXPECT_EQ(TalvorError(), 0);
}

TEST_F(EndToEnd, RefusedSearchesGiveTheirCodes) {
  const demo_user &manager = user_of_level(2);
  struct refusal {
    const char *what;
    std::string app, form, text, user, password;
    int code;
  };
  const refusal cases[] = {
      {"wrong password", "demo", "customers", "", manager.name, "not-the-password", 9},
      {"unknown user", "demo", "customers", "", "nobody", manager.password, 9},
      {"empty credentials", "demo", "customers", "", "", "", 9},
      {"unknown form", "demo", "suppliers", "", manager.name, manager.password, 8},
      {"unknown application", "nosuchapp", "customers", "", manager.name, manager.password, 10},
      {"unknown field in an item", "demo", "customers", "colour=red", manager.name,
       manager.password, 7},
      {"item without an operator", "demo", "customers", "name", manager.name, manager.password,
       7},
  };
  for (const refusal &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(search_as(c.form, c.text, c.user, c.password, c.app), -1);
    EXPECT_EQ(TalvorError(), c.code);
  }
  // None of them broke the connection.
  EXPECT_GE(search("customers", ""), 0);
}

// ---- navigation ----

TEST_F(EndToEnd, MovingThroughTheRecords) {
  std::vector<std::string> names = db_column("SELECT name FROM customers ORDER BY rowid");
  ASSERT_GE(names.size(), 3u);
  int h = search("customers", "");
  ASSERT_GE(h, 0);
  EXPECT_EQ(TalvorTotal(h), static_cast<int>(names.size()));
  EXPECT_EQ(TalvorGetCurrentPosition(h), 1);
  EXPECT_EQ(value(h, "name"), names[0]);

  TalvorSetCurrentPosition(h, 3);
  EXPECT_EQ(TalvorError(), 0);
  EXPECT_EQ(TalvorGetCurrentPosition(h), 3);
  EXPECT_EQ(value(h, "name"), names[2]);
  EXPECT_EQ(TalvorLocked(h), 0);

  TalvorSetCurrentPosition(h, static_cast<int>(names.size()));
  EXPECT_EQ(value(h, "name"), names.back());

  // Refused moves leave the current record where it was.
  TalvorSetCurrentPosition(h, 3);
  TalvorSetCurrentPosition(h, 0);
  EXPECT_EQ(TalvorError(), 14);
  TalvorSetCurrentPosition(h, static_cast<int>(names.size()) + 1);
  EXPECT_EQ(TalvorError(), 7);
  EXPECT_EQ(TalvorGetCurrentPosition(h), 3);
  EXPECT_EQ(value(h, "name"), names[2]);
}

TEST_F(EndToEnd, ClosedHandlesAreRefusedAndReused) {
  int h = search("customers", "");
  ASSERT_GE(h, 0);
  TalvorClose(h);
  EXPECT_EQ(TalvorError(), 0);
  EXPECT_EQ(TalvorTotal(h), -1);
  EXPECT_EQ(TalvorError(), 11);
  TalvorClose(h);
  EXPECT_EQ(TalvorError(), 11);
  EXPECT_EQ(TalvorTotal(1024), -1);
  EXPECT_EQ(TalvorError(), 12);
  // The lowest empty slot is taken again.
  EXPECT_EQ(search("orders", ""), h);
}

TEST_F(EndToEnd, OperationsAfterDisconnectAreRefusedUntilReconnected) {
  int h = search("customers", "");
  ASSERT_GE(h, 0);
  TalvorDisconnect();
  EXPECT_EQ(TalvorError(), 0);
  EXPECT_EQ(TalvorTotal(h), -1);
  EXPECT_EQ(TalvorError(), 18);
  EXPECT_EQ(search("customers", ""), -1);
  EXPECT_EQ(TalvorError(), 18);

  std::vector<char> address(address_.begin(), address_.end());
  address.push_back('\0');
  ASSERT_EQ(TalvorConnect(address.data()), 1);
  // The old set belonged to the ended session; a new search works.
  int again = search("customers", "city=Lyon");
  ASSERT_GE(again, 0);
  EXPECT_EQ(TalvorTotal(again), 1);
}

// ---- values ----

TEST_F(EndToEnd, SetValueIsCommittedAndReadBack) {
  int h = search("customers", "name=Carlos Mendes");
  ASSERT_GE(h, 0);
  ASSERT_EQ(TalvorTotal(h), 1);
  std::string id = value(h, "id");

  // Leading and trailing blanks are trimmed before the value is sent.
  set_value(h, "city", "  Lisboa  ");
  ASSERT_EQ(TalvorError(), 0);
  EXPECT_EQ(value(h, "city"), "Lisboa");
  // Committed: another connection to the file sees it.
  EXPECT_EQ(db_value("SELECT city FROM customers WHERE id = " + id), "Lisboa");
  // And a new search finds the record by it.
  int again = search("customers", "city=Lisboa");
  ASSERT_GE(again, 0);
  EXPECT_EQ(column(again, "id"), std::vector<std::string>{id});

  set_value(h, "credit_limit", "4200");
  EXPECT_EQ(TalvorError(), 0);
  EXPECT_EQ(db_value("SELECT credit_limit = 4200 FROM customers WHERE id = " + id), "1");
}

TEST_F(EndToEnd, AbsentUnknownAndRefusedValues) {
  int h = search("customers", "email=");
  ASSERT_GE(h, 0);
  ASSERT_GE(TalvorTotal(h), 1);
  std::string id = value(h, "id");
  ASSERT_EQ(db_value("SELECT email IS NULL FROM customers WHERE id = " + id), "1");
  // An absent value reads as an empty text without an error.
  EXPECT_EQ(value(h, "email"), "");
  EXPECT_EQ(TalvorError(), 0);

  EXPECT_EQ(value(h, "colour"), "");
  EXPECT_EQ(TalvorError(), 7);
  set_value(h, "colour", "red");
  EXPECT_EQ(TalvorError(), 7);

  // name is NOT NULL: writing it absent (ESC) is refused, and the refusal
  // leaves the session able to change the record afterwards.
  std::string before = value(h, "name");
  set_value(h, "name", "\x1b");
  EXPECT_EQ(TalvorError(), 7);
  EXPECT_EQ(db_value("SELECT name FROM customers WHERE id = " + id), before);
  set_value(h, "email", "first@example.org");
  EXPECT_EQ(TalvorError(), 0);
  EXPECT_EQ(db_value("SELECT email FROM customers WHERE id = " + id), "first@example.org");
  // And writing ESC to a nullable field makes it absent again.
  set_value(h, "email", "\x1b");
  EXPECT_EQ(TalvorError(), 0);
  EXPECT_EQ(db_value("SELECT email IS NULL FROM customers WHERE id = " + id), "1");
}

// ---- record editing ----

TEST_F(EndToEnd, CreateAddsACommittedRecordAndMakesItCurrent) {
  int h = search("customers", "");
  ASSERT_GE(h, 0);
  int before = TalvorTotal(h);
  std::string rows_before = db_value("SELECT count(*) FROM customers");

  TalvorCreateNewRecord(h);
  ASSERT_EQ(TalvorError(), 0);
  EXPECT_EQ(TalvorTotal(h), before + 1);
  EXPECT_EQ(TalvorGetCurrentPosition(h), before + 1);
  EXPECT_EQ(db_value("SELECT count(*) FROM customers"),
            std::to_string(atoi(rows_before.c_str()) + 1));

  set_value(h, "name", "Ines Ortiz");
  ASSERT_EQ(TalvorError(), 0);
  std::string id = value(h, "id");
  EXPECT_EQ(db_value("SELECT name FROM customers WHERE id = " + id), "Ines Ortiz");
}

TEST_F(EndToEnd, RemoveOnlyLeavesTheSetWhileDeleteRemovesTheRecord) {
  std::vector<std::string> names = db_column("SELECT name FROM customers ORDER BY rowid");
  ASSERT_GE(names.size(), 4u);
  int h = search("customers", "");
  ASSERT_GE(h, 0);
  int total = TalvorTotal(h);

  TalvorSetCurrentPosition(h, 2);
  TalvorRemoveRecord(h);
  ASSERT_EQ(TalvorError(), 0);
  EXPECT_EQ(TalvorTotal(h), total - 1);
  // The record after it is current now.
  EXPECT_EQ(value(h, "name"), names[2]);
  std::vector<std::string> left = names;
  left.erase(left.begin() + 1);
  EXPECT_EQ(column(h, "name"), left);
  EXPECT_EQ(db_column("SELECT name FROM customers ORDER BY rowid"), names);

  // Delete the record that is now third (names[3]).
  TalvorSetCurrentPosition(h, 3);
  ASSERT_EQ(value(h, "name"), names[3]);
  TalvorDeleteRecord(h);
  ASSERT_EQ(TalvorError(), 0);
  EXPECT_EQ(TalvorTotal(h), total - 2);
  EXPECT_EQ(value(h, "name"), names[4]);
  EXPECT_EQ(TalvorLocked(h), 0);
  std::vector<std::string> remaining = names;
  remaining.erase(remaining.begin() + 3);
  EXPECT_EQ(db_column("SELECT name FROM customers ORDER BY rowid"), remaining);
  int fresh = search("customers", "name=" + names[3]);
  ASSERT_GE(fresh, 0);
  EXPECT_EQ(TalvorTotal(fresh), 0);
}

TEST_F(EndToEnd, UserLevelsGateTheChanges) {
  enum op { set_city, create, remove_rec, delete_rec, run_program };
  struct gate {
    int level;
    op what;
    int code;
    bool changes_data;
  };
  const gate cases[] = {
      {0, set_city, 15, true},   {0, create, 15, true},      {0, delete_rec, 15, true},
      {0, run_program, 15, true}, {0, remove_rec, 0, false}, {1, set_city, 0, true},
      {1, create, 0, true},      {1, delete_rec, 15, true},  {1, run_program, 15, true},
      {2, delete_rec, 0, true},  {2, run_program, 0, true},
  };
  const std::string snapshot_sql =
      "SELECT group_concat(id || ':' || name || ':' || ifnull(city, '-'), ',') FROM customers";
  for (const gate &c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + " op " + std::to_string(c.what));
    std::string before = db_value(snapshot_sql);
    int h = search("customers", "", c.level);
    ASSERT_GE(h, 0) << "code " << TalvorError();
    TalvorSetCurrentPosition(h, 2);
    switch (c.what) {
      case set_city:
        set_value(h, "city", "Changed-" + std::to_string(c.level));
        break;
      case create:
        TalvorCreateNewRecord(h);
        break;
      case remove_rec:
        TalvorRemoveRecord(h);
        break;
      case delete_rec:
        TalvorDeleteRecord(h);
        break;
      case run_program:
        run(h, "UPDATE customers SET city = 'Ran' WHERE id = :id", "", 0);
        break;
    }
    EXPECT_EQ(TalvorError(), c.code);
    std::string after = db_value(snapshot_sql);
    if (c.code != 0 || !c.changes_data) {
      EXPECT_EQ(after, before);
    } else {
      EXPECT_NE(after, before);
    }
    TalvorClose(h);
  }
}

// ---- sorting ----

TEST_F(EndToEnd, SortOrdersTheSetAndKeepsTheCurrentRecord) {
  struct sort_case {
    const char *spec;
    const char *order_by;  // the same order in SQL
  };
  const sort_case cases[] = {
      {"credit_limit:-1", "credit_limit DESC, rowid"},
      {"city:1", "city, rowid"},
      {"email:1;name:-1", "email, name DESC, rowid"},
      {"credit_limit:1;bogus;name:0;city:-1", "credit_limit, city DESC, rowid"},
  };
  for (const sort_case &c : cases) {
    SCOPED_TRACE(c.spec);
    int h = search("customers", "");
    ASSERT_GE(h, 0);
    TalvorSetCurrentPosition(h, 3);
    std::string current = value(h, "name");
    std::vector<char> spec(c.spec, c.spec + strlen(c.spec) + 1);
    TalvorSort(h, spec.data());
    ASSERT_EQ(TalvorError(), 0);
    std::vector<std::string> expected =
        db_column(std::string("SELECT name FROM customers ORDER BY ") + c.order_by);
    // Still on the same record, now at its sorted place.
    EXPECT_EQ(value(h, "name"), current);
    int at = TalvorGetCurrentPosition(h);
    ASSERT_GE(at, 1);
    EXPECT_EQ(expected[at - 1], current);
    EXPECT_EQ(column(h, "name"), expected);
    TalvorClose(h);
  }
}

TEST_F(EndToEnd, UnusableSortTextsLeaveTheOrder) {
  int h = search("customers", "");
  ASSERT_GE(h, 0);
  std::vector<std::string> before = column(h, "name");
  struct bad_sort {
    const char *spec;
    int code;
  };
  const bad_sort cases[] = {
      {"name", 13}, {"name:2", 13}, {"", 13}, {"colour:1", 7}, {"name:1;colour:-1", 7}};
  for (const bad_sort &c : cases) {
    SCOPED_TRACE(c.spec);
    std::vector<char> spec(c.spec, c.spec + strlen(c.spec) + 1);
    TalvorSort(h, spec.data());
    EXPECT_EQ(TalvorError(), c.code);
    EXPECT_EQ(column(h, "name"), before);
  }
}

// ---- subforms ----

TEST_F(EndToEnd, SubsetsAndParentsFollowTheLinks) {
  int customers = search("customers", "name=Anders Lindqvist");
  ASSERT_GE(customers, 0);
  ASSERT_EQ(TalvorTotal(customers), 1);
  std::string customer_id = value(customers, "id");

  int orders = subset(customers, "orders");
  ASSERT_GE(orders, 0) << "code " << TalvorError();
  EXPECT_EQ(TalvorError(), 0);
  std::vector<std::string> order_ids =
      db_column("SELECT id FROM orders WHERE customer_id = " + customer_id + " ORDER BY rowid");
  ASSERT_FALSE(order_ids.empty());
  EXPECT_EQ(column(orders, "id"), order_ids);

  TalvorSetCurrentPosition(orders, 1);
  int lines = subset(orders, "order_lines");
  ASSERT_GE(lines, 0);
  std::vector<std::string> products = db_column(
      "SELECT product FROM order_lines WHERE order_id = " + order_ids[0] + " ORDER BY rowid");
  ASSERT_FALSE(products.empty());
  EXPECT_EQ(column(lines, "product"), products);

  // Up again: the line's order, the order's customer.
  int up = parent(lines);
  ASSERT_GE(up, 0);
  EXPECT_EQ(column(up, "id"), std::vector<std::string>{order_ids[0]});
  int top = parent(up);
  ASSERT_GE(top, 0);
  EXPECT_EQ(column(top, "name"), std::vector<std::string>{"Anders Lindqvist"});

  // The sets made from a set outlive it.
  TalvorClose(customers);
  EXPECT_EQ(TalvorError(), 0);
  EXPECT_EQ(column(lines, "product"), products);
}

TEST_F(EndToEnd, ParentOfASearchedSetAndEmptyOrUnknownSubsets) {
  int orders = search("orders", "status=cancelled");
  ASSERT_GE(orders, 0);
  ASSERT_EQ(TalvorTotal(orders), 1);
  std::string owner = db_value(
      "SELECT c.name FROM orders o JOIN customers c ON c.id = o.customer_id"
      " WHERE o.status = 'cancelled'");
  int up = parent(orders);
  ASSERT_GE(up, 0);
  EXPECT_EQ(column(up, "name"), std::vector<std::string>{owner});

  int lonely = search("customers", "name=Emil Novak");
  ASSERT_GE(lonely, 0);
  ASSERT_EQ(db_value("SELECT count(*) FROM orders o JOIN customers c ON c.id = o.customer_id"
                     " WHERE c.name = 'Emil Novak'"),
            "0");
  int none = subset(lonely, "orders");
  ASSERT_GE(none, 0);
  EXPECT_EQ(TalvorError(), 0);
  EXPECT_EQ(TalvorTotal(none), 0);
  EXPECT_EQ(TalvorGetCurrentPosition(none), 0);

  EXPECT_EQ(subset(lonely, "suppliers"), -1);
  EXPECT_EQ(TalvorError(), 7);
}

TEST_F(EndToEnd, CreateInASubsetLinksTheRecordToItsParent) {
  int customers = search("customers", "name=Fatima Zahra");
  ASSERT_GE(customers, 0);
  std::string id = value(customers, "id");
  std::string count_sql = "SELECT count(*) FROM orders WHERE customer_id = " + id;
  int before = atoi(db_value(count_sql).c_str());
  int orders = subset(customers, "orders");
  ASSERT_GE(orders, 0);

  TalvorCreateNewRecord(orders);
  ASSERT_EQ(TalvorError(), 0);
  set_value(orders, "status", "paid");
  ASSERT_EQ(TalvorError(), 0);
  std::string order_id = value(orders, "id");
  EXPECT_EQ(atoi(db_value(count_sql).c_str()), before + 1);
  EXPECT_EQ(db_value("SELECT customer_id || '/' || status FROM orders WHERE id = " + order_id),
            id + "/paid");
  EXPECT_EQ(TalvorTotal(orders), before + 1);
}

TEST_F(EndToEnd, ReparentMovesTheRecordUnderTheTargetsCurrentRecord) {
  // The subset text names the link; empty means the set's own form.
  for (const char *link : {"order_lines", ""}) {
    SCOPED_TRACE(std::string("link '") + link + "'");
    int from_order = search("orders", "id=1");
    int to_order = search("orders", "id=2");
    ASSERT_GE(from_order, 0);
    ASSERT_GE(to_order, 0);
    int lines = subset(from_order, "order_lines");
    ASSERT_GE(lines, 0);
    int before = TalvorTotal(lines);
    ASSERT_GE(before, 1);
    std::string line_id = value(lines, "id");

    std::vector<char> l(link, link + strlen(link) + 1);
    TalvorReparent(lines, l.data(), to_order);
    ASSERT_EQ(TalvorError(), 0);
    EXPECT_EQ(db_value("SELECT order_id FROM order_lines WHERE id = " + line_id), "2");
    // It left the subset of its old parent and shows in the new one's.
    EXPECT_EQ(TalvorTotal(lines), before - 1);
    int moved_to = subset(to_order, "order_lines");
    ASSERT_GE(moved_to, 0);
    std::vector<std::string> ids = column(moved_to, "id");
    EXPECT_NE(std::find(ids.begin(), ids.end(), line_id), ids.end());
    for (int h : {from_order, to_order, lines, moved_to}) TalvorClose(h);
  }
}

TEST_F(EndToEnd, RefusedReparentsChangeNothing) {
  int order = search("orders", "id=1");
  int customers = search("customers", "");
  ASSERT_GE(order, 0);
  ASSERT_GE(customers, 0);
  std::string before = db_value("SELECT group_concat(customer_id, ',') FROM orders");
  char link[] = "orders";
  char wrong_link[] = "order_lines";
  TalvorReparent(order, link, 1024);
  EXPECT_EQ(TalvorError(), 12);
  TalvorReparent(order, link, 1000);
  EXPECT_EQ(TalvorError(), 11);
  // An order cannot go under a customer by the order_lines link.
  TalvorReparent(order, wrong_link, customers);
  EXPECT_EQ(TalvorError(), 7);
  EXPECT_EQ(db_value("SELECT group_concat(customer_id, ',') FROM orders"), before);

  // The right link moves it.
  TalvorSetCurrentPosition(customers, 2);
  std::string target = value(customers, "id");
  TalvorReparent(order, link, customers);
  EXPECT_EQ(TalvorError(), 0);
  EXPECT_EQ(db_value("SELECT customer_id FROM orders WHERE id = 1"), target);
}

// ---- server programs ----

TEST_F(EndToEnd, ProgramsAnswerInRowsOfTabSeparatedColumns) {
  int h = search("customers", "name=Berit Holm");
  ASSERT_GE(h, 0);
  std::string berit_city = db_value("SELECT city FROM customers WHERE name = 'Berit Holm'");

  std::string no_email;
  for (const std::string &n :
       db_column("SELECT name FROM customers WHERE email IS NULL ORDER BY id"))
    no_email += n + "\t\n";

  struct program_case {
    std::string program, arg, answer;
  };
  const program_case cases[] = {
      // The argument and the current record's fields are bound by name.
      {"SELECT name FROM customers WHERE city = :arg", berit_city, "Berit Holm\n"},
      {"SELECT :name, :city", "", "Berit Holm\t" + berit_city + "\n"},
      // An absent value is written as nothing.
      {"SELECT name, email FROM customers WHERE email IS NULL ORDER BY id", "", no_email},
      // Several statements answer one after the other.
      {"SELECT 1;\nSELECT 'a', 'b'", "", "1\na\tb\n"},
      // A statement with no rows answers nothing.
      {"SELECT name FROM customers WHERE 0", "", ""},
      // Tabs and line feeds inside values are escaped.
      {"SELECT 'x' || char(9) || 'y' || char(10)", "", "x\\ty\\n\n"},
  };
  for (const program_case &c : cases) {
    SCOPED_TRACE(c.program);
    EXPECT_EQ(run(h, c.program, c.arg, 1), c.answer);
    EXPECT_EQ(TalvorError(), 0);
  }
}

TEST_F(EndToEnd, ChangingProgramsRunOnlyWithFlagZeroAndAreCommitted) {
  int h = search("customers", "name=Greta Olsen");
  ASSERT_GE(h, 0);
  std::string id = value(h, "id");
  std::string credit_sql = "SELECT credit_limit FROM customers WHERE id = " + id;
  std::string before = db_value(credit_sql);
  const char *program = "UPDATE customers SET credit_limit = credit_limit + 100 WHERE id = :id";

  EXPECT_EQ(run(h, program, "", 1), "");
  EXPECT_EQ(TalvorError(), 7);
  EXPECT_EQ(db_value(credit_sql), before);

  EXPECT_EQ(run(h, program, "", 0), "");
  EXPECT_EQ(TalvorError(), 0);
  EXPECT_EQ(atof(db_value(credit_sql).c_str()), atof(before.c_str()) + 100);

  // A program that fails halfway changes nothing.
  EXPECT_EQ(run(h, std::string(program) + ";\nSELECT * FROM no_such_table", "", 0), "");
  EXPECT_EQ(TalvorError(), 7);
  EXPECT_EQ(atof(db_value(credit_sql).c_str()), atof(before.c_str()) + 100);
}

// ---- locks, seen from a second connection ----

TEST_F(EndToEnd, AnotherSessionsUncommittedChangeLocksTheRecord) {
  const demo_user &clerk = user_of_level(1);
  talvortest::raw_client other(command_port_);
  int app = other.start("demo", clerk.name, clerk.password);
  ASSERT_GE(app, 0);
  int set = other.search(app, "customers", {"name=Anders Lindqvist"});
  ASSERT_GE(set, 0);
  ASSERT_EQ(other.move(app, set, 0).code, 8);
  // A change without the follow-up commit holds the record.
  ASSERT_EQ(other.set_value(app, set, "city", "Gothenburg").code, 8);

  int h = search("customers", "");
  ASSERT_GE(h, 0);
  int anders = find(h, "name", "Anders Lindqvist");
  ASSERT_GT(anders, 0);
  int someone_else = anders == 1 ? 2 : 1;
  EXPECT_EQ(TalvorLocked(h), 1);
  // Readers see the last commit.
  EXPECT_EQ(value(h, "city"), db_value("SELECT city FROM customers WHERE name = 'Anders Lindqvist'"));
  EXPECT_NE(value(h, "city"), "Gothenburg");
  TalvorSetCurrentPosition(h, someone_else);
  EXPECT_EQ(TalvorLocked(h), 0);

  // A search that starts on the held record reports it at once.
  int held = search("customers", "name=Anders Lindqvist");
  ASSERT_GE(held, 0);
  EXPECT_EQ(TalvorLocked(held), 1);

  // The held record cannot be changed meanwhile.
  TalvorSetCurrentPosition(h, anders);
  set_value(h, "city", "Malmo");
  EXPECT_EQ(TalvorError(), 7);

  ASSERT_EQ(other.commit(app).code, 8);
  TalvorSetCurrentPosition(h, anders);
  EXPECT_EQ(TalvorLocked(h), 0);
  EXPECT_EQ(value(h, "city"), "Gothenburg");
  set_value(h, "city", "Malmo");
  EXPECT_EQ(TalvorError(), 0);
  EXPECT_EQ(db_value("SELECT city FROM customers WHERE name = 'Anders Lindqvist'"), "Malmo");
}

// ---- hostile texts ----

TEST_F(EndToEnd, InjectedSqlInTextsDoesNoHarm) {
  const std::string counts_sql =
      "SELECT (SELECT count(*) FROM customers) || '/' || (SELECT count(*) FROM orders) || '/' ||"
      " (SELECT count(*) FROM order_lines) || '/' ||"
      " (SELECT group_concat(name, ',') FROM sqlite_master WHERE type = 'table')";
  const std::string before = db_value(counts_sql);
  int all = search("customers", "");
  ASSERT_GE(all, 0);
  const int total = TalvorTotal(all);

  const char *searches[] = {
      "name=x' OR '1'='1",
      "name=' OR 1=1 --",
      "name=a'; DROP TABLE customers; --",
      "city=Lyon') OR ('1'='1",
      "name=*\" OR \"\"=\"",
      "name; DROP TABLE customers=1",
      "name=1 UNION SELECT sql FROM sqlite_master",
      "id=1 OR 1=1",
  };
  for (const char *text : searches) {
    SCOPED_TRACE(text);
    int h = search("customers", text);
    if (h >= 0) {
      // Taken as a literal value: nothing has such a name.
      EXPECT_EQ(TalvorTotal(h), 0);
      TalvorClose(h);
    } else {
      EXPECT_EQ(TalvorError(), 7);
    }
  }
  const char *sorts[] = {
      "name:1; DROP TABLE customers:1",
      "name) ; DELETE FROM customers; --:1",
      "name:1 DESC; DELETE FROM customers:1",
      "(SELECT 1):1",
  };
  for (const char *spec : sorts) {
    SCOPED_TRACE(spec);
    std::vector<char> s(spec, spec + strlen(spec) + 1);
    TalvorSort(all, s.data());
    EXPECT_TRUE(TalvorError() == 0 || TalvorError() == 7) << TalvorError();
  }
  const char *fields[] = {"name FROM customers; DROP TABLE customers; --", "\"name\"",
                          "name, (SELECT 1)"};
  for (const char *field : fields) {
    SCOPED_TRACE(field);
    EXPECT_EQ(value(all, field), "");
    EXPECT_EQ(TalvorError(), 7);
    set_value(all, field, "x");
    EXPECT_EQ(TalvorError(), 7);
  }
  EXPECT_EQ(search("customers; DROP TABLE orders", ""), -1);
  EXPECT_EQ(TalvorError(), 8);

  EXPECT_EQ(db_value(counts_sql), before);
  EXPECT_EQ(TalvorTotal(all), total);

  // A hostile value is stored as it is.
  const std::string bobby = "Robert'); DROP TABLE customers;--";
  TalvorSetCurrentPosition(all, 1);
  std::string id = value(all, "id");
  set_value(all, "name", bobby);
  ASSERT_EQ(TalvorError(), 0);
  EXPECT_EQ(db_value("SELECT name FROM customers WHERE id = " + id), bobby);
  EXPECT_EQ(db_value("SELECT count(*) FROM customers WHERE name = " + quoted(bobby)), "1");
  int found = search("customers", "name=" + bobby);
  ASSERT_GE(found, 0);
  EXPECT_EQ(TalvorTotal(found), 1);
}

// ---- long searches ----

// A server that sends a progress reply every few rows: the client must pass
// over them and still see the final answer of each search.
class EndToEndProgress : public EndToEnd {
 protected:
  void configure(server_config &config) override { config.progress_every = 100; }
};

TEST_F(EndToEndProgress, LongSearchesCountEveryRecord) {
  int order = search("orders", "id=1");
  ASSERT_GE(order, 0);
  const int bulk = 2500;
  EXPECT_EQ(run(order,
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                    std::to_string(bulk) +
                    ")\nINSERT INTO order_lines (order_id, product, quantity, unit_price)"
                    " SELECT :id, 'bulk ' || i, i, 1 FROM n",
                "", 0),
            "");
  ASSERT_EQ(TalvorError(), 0);
  ASSERT_EQ(db_value("SELECT count(*) FROM order_lines WHERE product GLOB 'bulk *'"),
            std::to_string(bulk));

  // The same search by a raw client shows the progress replies are there.
  const demo_user &manager = user_of_level(2);
  talvortest::raw_client other(command_port_);
  int app = other.start("demo", manager.name, manager.password);
  ASSERT_GE(app, 0);
  talvortest::raw_reply reply;
  ASSERT_GE(other.search(app, "order_lines", {"product=bulk *"}, &reply), 0);
  EXPECT_GE(reply.progress, bulk / 100 - 1);

  int h = search("order_lines", "product=bulk *");
  ASSERT_GE(h, 0) << "code " << TalvorError();
  EXPECT_EQ(TalvorTotal(h), bulk);
  char spec[] = "quantity:-1";
  TalvorSort(h, spec);
  EXPECT_EQ(TalvorError(), 0);
  TalvorSetCurrentPosition(h, 1);
  EXPECT_EQ(value(h, "product"), "bulk " + std::to_string(bulk));
  TalvorSetCurrentPosition(h, bulk);
  EXPECT_EQ(value(h, "product"), "bulk 1");

  // The same records through the order's subset, beside its own lines.
  int lines = subset(order, "order_lines");
  ASSERT_GE(lines, 0);
  EXPECT_EQ(std::to_string(TalvorTotal(lines)),
            db_value("SELECT count(*) FROM order_lines WHERE order_id = 1"));
  EXPECT_GT(TalvorTotal(lines), bulk);
}

}  // namespace
}  // namespace talvore2e
