// The reference server's data commands: form lookup, search items, sort,
// navigation, field values, record edits, commits and record locks.
#include <chrono>
#include <thread>

#include "reply_codes.h"
#include "server/server_fixture.h"

namespace talvortest {
namespace {

using ServerData = ReferenceServer;

std::vector<std::string> pick(std::initializer_list<int> ids) {
  std::vector<std::string> out;
  for (int id : ids) out.push_back(shop_names()[static_cast<size_t>(id - 1)]);
  return out;
}

TEST_F(ServerData, FormLookupFindsTablesOnly) {
  int app;
  auto c = session("reader", reader_password, &app);
  int customers = c->form(app, "customers");
  EXPECT_GT(customers, 0);
  EXPECT_EQ(c->form(app, "CUSTOMERS"), customers);  // names ignore case
  EXPECT_EQ(c->form(app, "customers"), customers);  // stable
  int orders = c->form(app, "orders");
  EXPECT_GT(orders, 0);
  EXPECT_NE(orders, customers);
  for (const char *hidden : {"talvor_users", "sqlite_master", "sqlite_schema", "nosuch", "",
                             "customers;", "customers WHERE 1"}) {
    SCOPED_TRACE(hidden);
    EXPECT_EQ(c->form(app, hidden), -1);
  }
}

TEST_F(ServerData, SearchItemsSelectRecords) {
  struct search_case {
    std::vector<std::string> items;
    std::vector<std::string> expected;
  } cases[] = {
      {{}, pick({1, 2, 3, 4, 5, 6})},
      {{"city=Oslo"}, pick({1, 3})},
      {{"city<>Oslo"}, pick({2, 4, 5, 6})},
      {{"city!=Oslo"}, pick({2, 4, 5, 6})},
      {{"credit<250"}, pick({1, 5})},
      {{"credit>250"}, pick({3, 6})},
      {{"credit<=250"}, pick({1, 2, 4, 5})},
      {{"credit>=400"}, pick({3, 6})},
      {{"credit=250"}, pick({2, 4})},
      {{"name=Al*"}, pick({1, 3})},
      {{"name=Al?a*"}, pick({1, 3})},
      {{"name=*ahl"}, pick({3})},
      {{"name<>Al*"}, pick({2, 4, 5, 6})},
      {{"name=al*"}, {}},  // case matters, as with =
      {{"city=Oslo", "credit>200"}, pick({3})},
      {{"", "city=Oslo", ""}, pick({1, 3})},  // empty items are skipped
      {{"  city  =  Oslo  "}, pick({1, 3})},  // blanks around names and values
      {{"CITY=Oslo"}, pick({1, 3})},
      {{"name=Eve\\*Star"}, pick({6})},        // an escaped star is a star
      {{"name=Eve\\**"}, pick({6})},
      {{"name=Alma\\*"}, {}},
      {{"name=Dee 50\\% off"}, pick({5})},     // the client's escaped percent sign
      {{"name=Cid O'Hara"}, pick({4})},
      {{"note="}, pick({1, 2})},               // absent or empty
      {{"note<>"}, pick({3, 4, 5, 6})},
      {{"id>=5"}, pick({5, 6})},
  };
  int app;
  auto c = session("reader", reader_password, &app);
  for (const search_case &sc : cases) {
    std::string label;
    for (const std::string &i : sc.items) label += "[" + i + "]";
    SCOPED_TRACE(label);
    raw_reply r;
    int set = c->search(app, "customers", sc.items, &r);
    ASSERT_GT(set, 0);
    ASSERT_EQ(r.blocks.size(), 2u);
    EXPECT_EQ(atoi(r.blocks[0].c_str()), static_cast<int>(sc.expected.size()));
    EXPECT_EQ(r.blocks[1], "0");
    EXPECT_EQ(names(*c, app, set), sc.expected);
  }
}

TEST_F(ServerData, UnusableSearchItemsAreRefused) {
  int app;
  auto c = session("reader", reader_password, &app);
  for (const char *item : {"nosuch=1", "city", "=Oslo", "city!Oslo", "name=abc\\",
                           "talvor_users.name=x", "rowid=1", "customers.city=Oslo"}) {
    SCOPED_TRACE(item);
    raw_reply r;
    EXPECT_EQ(c->search(app, "customers", {item}, &r), -1);
    EXPECT_TRUE(r.ok);
    EXPECT_NE(r.code, 8);
    EXPECT_EQ(r.count, 0);
  }
}

TEST_F(ServerData, SearchTextNeverBecomesSql) {
  struct injection {
    const char *item;
    bool accepted;  // a well-formed item: its value must match literally
  } cases[] = {
      {"name=x' OR '1'='1", true},
      {"name=x\" OR \"1\"=\"1", true},
      {"name=x'; DROP TABLE customers; --", true},
      {"credit>0 OR 1=1", true},
      {"name=*' OR '1'='1", true},
      {"name=') UNION SELECT password_hash FROM talvor_users --", true},
      {"name) OR (1=1", false},
      {"name\" OR 1=1 --=x", false},
      {"name=1 --=x", true},
      {"(SELECT 1)=1", false},
      {"name/**/=x", false},
  };
  int app;
  auto c = session("reader", reader_password, &app);
  for (const injection &in : cases) {
    SCOPED_TRACE(in.item);
    raw_reply r;
    int set = c->search(app, "customers", {in.item}, &r);
    ASSERT_TRUE(r.ok);
    if (in.accepted) {
      ASSERT_GT(set, 0);
      EXPECT_EQ(r.blocks[0], "0");
    } else {
      EXPECT_EQ(set, -1);
      EXPECT_NE(r.code, 8);
    }
  }
  EXPECT_EQ(query("SELECT count(*) FROM customers"), "6");
  EXPECT_EQ(query("SELECT count(*) FROM talvor_users"), "3");
  // A value holding quotes is found exactly.
  raw_reply r;
  ASSERT_GT(c->search(app, "customers", {"name=Cid O'Hara"}, &r), 0);
  EXPECT_EQ(r.blocks[0], "1");
}

TEST_F(ServerData, LongSearchesSendProgressFirst) {
  restart([](server_config &c) { c.progress_every = 2; });
  int app;
  auto c = session("reader", reader_password, &app);
  raw_reply r;
  ASSERT_GT(c->search(app, "customers", {}, &r), 0);
  EXPECT_EQ(r.code, 8);
  EXPECT_EQ(r.progress, 3);  // after 2, 4 and 6 rows
  ASSERT_GT(c->search(app, "customers", {"city=Oslo"}, &r), 0);
  EXPECT_EQ(r.progress, 1);

  // Seen raw: each progress reply carries the count so far.
  int form = c->form(app, "customers");
  int set = c->new_set(app);
  ASSERT_EQ(c->call(47, {std::to_string(app), std::to_string(set), std::to_string(form)}).code, 8);
  ASSERT_TRUE(c->send(54,
                      {std::to_string(app), std::to_string(form), std::to_string(set), "0", "0",
                       "0", "-1", "0", "credit>200"},
                      true));
  raw_reply p1 = c->read(false), p2 = c->read(false), last = c->read(false);
  EXPECT_EQ(p1.code, 84);
  ASSERT_EQ(p1.blocks.size(), 1u);
  EXPECT_EQ(p1.blocks[0], "2");
  EXPECT_EQ(p2.code, 84);
  EXPECT_EQ(last.code, 8);
  EXPECT_EQ(last.blocks[0], "4");
}

TEST_F(ServerData, SortOrdersBySeveralFieldsAndKeepsTheCurrentRecord) {
  int app;
  auto c = session("reader", reader_password, &app);
  int set = c->search(app, "customers", {});
  ASSERT_GT(set, 0);
  ASSERT_EQ(c->move(app, set, 1).code, 8);  // Bo Carlsson is current
  raw_reply r = c->call(85, {std::to_string(app), std::to_string(set), "2", "city:1", "name:-1"},
                        true);
  ASSERT_EQ(r.code, 8);
  ASSERT_EQ(r.blocks.size(), 1u);
  EXPECT_EQ(r.blocks[0], "6");
  raw_reply pos = c->call(273, {std::to_string(app), std::to_string(set)});
  ASSERT_EQ(pos.code, 8);
  EXPECT_EQ(pos.blocks[0], "1");  // Cork, then Lund: Bo is second
  EXPECT_EQ(names(*c, app, set), pick({4, 2, 6, 3, 1, 5}));

  // Directions as the client lets them through.
  r = c->call(85, {std::to_string(app), std::to_string(set), "1", "credit: -1x"}, true);
  ASSERT_EQ(r.code, 8);
  EXPECT_EQ(names(*c, app, set, "credit"),
            (std::vector<std::string>{"999", "400", "250", "250", "100", "50"}));
}

TEST_F(ServerData, UnusableSortItemsAreRefused) {
  int app;
  auto c = session("reader", reader_password, &app);
  int set = c->search(app, "customers", {});
  ASSERT_GT(set, 0);
  std::string a = std::to_string(app), s = std::to_string(set);
  std::vector<std::vector<std::string>> cases = {
      {a, s, "1", "city:0"},       {a, s, "1", "city"},         {a, s, "1", "nosuch:1"},
      {a, s, "2", "city:1"},       {a, s, "1", "city:1", "x:1"}, {a, s, "0"},
      {a, s, "1", "city; DROP TABLE customers:1"},
  };
  for (const auto &blocks : cases) {
    SCOPED_TRACE(blocks.back());
    raw_reply r = c->call(85, blocks, true);
    ASSERT_TRUE(r.ok);
    EXPECT_NE(r.code, 8);
    EXPECT_EQ(r.count, 0);
  }
  EXPECT_EQ(names(*c, app, set), shop_names());  // order unchanged
}

TEST_F(ServerData, NavigationCountsMovesAndReportsPositions) {
  int app;
  auto c = session("reader", reader_password, &app);
  int set = c->search(app, "customers", {"city=Oslo"});
  ASSERT_GT(set, 0);
  std::string a = std::to_string(app), s = std::to_string(set);
  EXPECT_EQ(c->total(app, set).blocks, std::vector<std::string>{"2"});
  EXPECT_EQ(c->call(273, {a, s}).blocks, std::vector<std::string>{"0"});
  struct move_case {
    int position;
    bool ok;
  } moves[] = {{1, true}, {0, true}, {2, false}, {-1, false}, {1000000, false}};
  for (const move_case &m : moves) {
    SCOPED_TRACE(m.position);
    raw_reply before = c->call(273, {a, s});
    raw_reply r = c->move(app, set, m.position);
    ASSERT_TRUE(r.ok);
    if (m.ok) {
      EXPECT_EQ(r.code, 8);
      EXPECT_EQ(r.blocks, std::vector<std::string>{"0"});  // not locked
      EXPECT_EQ(c->call(273, {a, s}).blocks[0], std::to_string(m.position));
    } else {
      EXPECT_NE(r.code, 8);
      EXPECT_EQ(r.count, 0);
      EXPECT_EQ(c->call(273, {a, s}).blocks, before.blocks);  // stays put
    }
  }
}

TEST_F(ServerData, EmptySetAcceptsTheFirstMoveOnly) {
  int app;
  auto c = session("reader", reader_password, &app);
  int set = c->search(app, "customers", {"city=Atlantis"});
  ASSERT_GT(set, 0);
  EXPECT_EQ(c->total(app, set).blocks[0], "0");
  raw_reply first = c->move(app, set, 0);
  EXPECT_EQ(first.code, 8);
  EXPECT_EQ(first.blocks, std::vector<std::string>{"0"});
  EXPECT_NE(c->move(app, set, 1).code, 8);
  EXPECT_NE(c->get(app, set, "name").code, 57);  // no current record
  EXPECT_EQ(c->call(273, {std::to_string(app), std::to_string(set)}).blocks[0], "-1");
}

TEST_F(ServerData, GetValueAnswersTypeLengthAndValue) {
  int app;
  auto c = session("reader", reader_password, &app);
  int set = c->search(app, "customers", {"id<=2"});
  ASSERT_GT(set, 0);
  raw_reply v = c->get(app, set, "name");
  ASSERT_EQ(v.code, 57);
  EXPECT_EQ(v.blocks, (std::vector<std::string>{"3", "9", "Alma Berg"}));
  v = c->get(app, set, "CREDIT");
  EXPECT_EQ(v.blocks, (std::vector<std::string>{"1", "3", "100"}));
  v = c->get(app, set, "note");  // NULL: a block starting with ESC
  ASSERT_EQ(v.blocks.size(), 3u);
  EXPECT_EQ(v.blocks[2], "\x1b");
  ASSERT_EQ(c->move(app, set, 1).code, 8);
  v = c->get(app, set, "note");  // empty, not absent
  EXPECT_EQ(v.blocks[2], "");
  for (const char *field : {"nosuch", "", "name, city", "talvor_users"}) {
    SCOPED_TRACE(field);
    raw_reply bad = c->get(app, set, field);
    EXPECT_NE(bad.code, 57);
    EXPECT_EQ(bad.count, 0);
  }
}

TEST_F(ServerData, SetValueChangesAfterCommitAndNeedsLevelOne) {
  int app;
  auto reader = session("reader", reader_password, &app);
  int rset = reader->search(app, "customers", {"id=1"});
  ASSERT_GT(rset, 0);
  raw_reply refused = reader->set_value(app, rset, "city", "Bergen");
  EXPECT_NE(refused.code, 8);
  EXPECT_EQ(refused.count, 0);

  int wapp;
  auto writer = session("writer", writer_password, &wapp);
  int set = writer->search(wapp, "customers", {"id=1"});
  ASSERT_GT(set, 0);
  ASSERT_EQ(writer->set_value(wapp, set, "city", "Bergen").code, 8);
  EXPECT_EQ(writer->get(wapp, set, "city").blocks[2], "Bergen");  // its own change
  EXPECT_EQ(query("SELECT city FROM customers WHERE id = 1"), "Oslo");  // not yet committed
  ASSERT_EQ(writer->commit(wapp).code, 8);
  EXPECT_EQ(query("SELECT city FROM customers WHERE id = 1"), "Bergen");

  // Numbers take the column's type; ESC sets an absent value.
  ASSERT_EQ(writer->set_value(wapp, set, "credit", "321").code, 8);
  ASSERT_EQ(writer->set_value(wapp, set, "note", "\x1b").code, 8);
  ASSERT_EQ(writer->commit(wapp).code, 8);
  EXPECT_EQ(query("SELECT typeof(credit) || credit FROM customers WHERE id = 1"), "integer321");
  EXPECT_EQ(query("SELECT note FROM customers WHERE id = 1"), "NULL");

  // Values are data, not SQL.
  ASSERT_EQ(writer->set_value(wapp, set, "name", "x'); DROP TABLE orders; --").code, 8);
  ASSERT_EQ(writer->commit(wapp).code, 8);
  EXPECT_EQ(query("SELECT name FROM customers WHERE id = 1"), "x'); DROP TABLE orders; --");
  EXPECT_EQ(query("SELECT count(*) FROM orders"), "3");

  // The record's identity and unknown fields stay untouched.
  EXPECT_NE(writer->set_value(wapp, set, "id", "77").code, 8);
  EXPECT_NE(writer->set_value(wapp, set, "nosuch", "1").code, 8);
  EXPECT_NE(writer->set_value(wapp, set, "name = 'x', city", "1").code, 8);
  EXPECT_EQ(query("SELECT count(*) FROM customers WHERE id = 1"), "1");
}

TEST_F(ServerData, CreateRemoveAndDelete) {
  int app;
  auto writer = session("writer", writer_password, &app);
  int set = writer->search(app, "customers", {"city=Oslo"});
  ASSERT_GT(set, 0);
  std::string a = std::to_string(app), s = std::to_string(set);
  int form = writer->form(app, "customers");

  // Create: the new record is part of the set and current.
  ASSERT_EQ(writer->call(272, {a, s, std::to_string(form)}).code, 8);
  EXPECT_EQ(writer->total(app, set).blocks[0], "3");
  EXPECT_EQ(writer->call(273, {a, s}).blocks[0], "2");
  ASSERT_EQ(writer->set_value(app, set, "name", "Ny Kund").code, 8);
  ASSERT_EQ(writer->set_value(app, set, "city", "Oslo").code, 8);
  ASSERT_EQ(writer->commit(app).code, 8);
  EXPECT_EQ(query("SELECT count(*) FROM customers WHERE name = 'Ny Kund'"), "1");
  EXPECT_NE(writer->call(272, {a, s, std::to_string(form + 1)}).code, 8);  // another form

  // Remove: out of the set, still in the database.
  ASSERT_EQ(writer->move(app, set, 0).code, 8);
  ASSERT_EQ(writer->call(78, {a, s}).code, 8);
  EXPECT_EQ(names(*writer, app, set), (std::vector<std::string>{"Alva Dahl", "Ny Kund"}));
  EXPECT_EQ(query("SELECT count(*) FROM customers"), "7");

  // Delete needs level 2.
  raw_reply refused = writer->call(40, {a, s});
  EXPECT_NE(refused.code, 8);
  EXPECT_EQ(refused.count, 0);

  int admin_app;
  auto admin = session("admin", admin_password, &admin_app);
  int aset = admin->search(admin_app, "customers", {"city=Oslo"});
  ASSERT_GT(aset, 0);
  ASSERT_EQ(admin->move(admin_app, aset, 0).code, 8);  // Alma Berg, who has two orders
  raw_reply del = admin->call(40, {std::to_string(admin_app), std::to_string(aset)});
  ASSERT_EQ(del.code, 8);
  EXPECT_EQ(del.blocks, (std::vector<std::string>{"2", "0"}));
  // Committed at once (no follow-up comes), with the cascade to orders.
  EXPECT_EQ(query("SELECT count(*) FROM customers WHERE id = 1"), "0");
  EXPECT_EQ(query("SELECT count(*) FROM orders WHERE customer_id = 1"), "0");
  EXPECT_EQ(names(*admin, admin_app, aset), (std::vector<std::string>{"Alva Dahl", "Ny Kund"}));
}

TEST_F(ServerData, UncommittedChangeLocksTheRecordForOthers) {
  int a1, a2;
  auto one = session("writer", writer_password, &a1);
  auto two = session("writer", writer_password, &a2);
  int s1 = one->search(a1, "customers", {"city=Oslo"});
  ASSERT_GT(s1, 0);
  ASSERT_EQ(one->move(a1, s1, 1).code, 8);  // Alva Dahl
  ASSERT_EQ(one->set_value(a1, s1, "credit", "1").code, 8);

  raw_reply found;
  int s2 = two->search(a2, "customers", {"city=Oslo"}, &found);
  ASSERT_GT(s2, 0);
  EXPECT_EQ(found.blocks[1], "0");  // the first record is free
  raw_reply moved = two->move(a2, s2, 1);
  ASSERT_EQ(moved.code, 8);
  EXPECT_EQ(moved.blocks[0], "1");                         // locked by the other session
  EXPECT_EQ(two->get(a2, s2, "credit").blocks[2], "400");  // and still the old value
  EXPECT_EQ(two->set_value(a2, s2, "credit", "2").code, reply_locked);
  // The owner itself does not see its record as locked.
  EXPECT_EQ(one->move(a1, s1, 1).blocks[0], "0");
  // The search reply reports the lock of the first record.
  int s3 = two->search(a2, "customers", {"name=Alva*"}, &found);
  ASSERT_GT(s3, 0);
  EXPECT_EQ(found.blocks[1], "1");

  ASSERT_EQ(one->commit(a1).code, 8);
  moved = two->move(a2, s2, 1);
  EXPECT_EQ(moved.blocks[0], "0");
  EXPECT_EQ(two->get(a2, s2, "credit").blocks[2], "1");
  EXPECT_EQ(two->set_value(a2, s2, "credit", "2").code, 8);
  EXPECT_EQ(two->commit(a2).code, 8);
  EXPECT_EQ(query("SELECT credit FROM customers WHERE id = 3"), "2");
}

TEST_F(ServerData, ChangesOfAVanishedClientAreRolledBack) {
  int a1, a2;
  auto two = session("writer", writer_password, &a2);
  {
    auto one = session("writer", writer_password, &a1);
    int s1 = one->search(a1, "customers", {"id=2"});
    ASSERT_GT(s1, 0);
    ASSERT_EQ(one->set_value(a1, s1, "city", "Gone").code, 8);
    int s2 = two->search(a2, "customers", {"id=2"});
    ASSERT_GT(s2, 0);
    EXPECT_EQ(two->move(a2, s2, 0).blocks[0], "1");
    one->close();  // vanishes without committing
  }
  // Once the server has seen the end, the record is free and unchanged.
  bool freed = false;
  for (int i = 0; i < 50 && !freed; ++i) {
    int s2 = two->search(a2, "customers", {"id=2"});
    raw_reply m = two->move(a2, s2, 0);
    freed = m.code == 8 && m.blocks[0] == "0";
    if (!freed) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(freed);
  EXPECT_EQ(query("SELECT city FROM customers WHERE id = 2"), "Lund");
}

TEST_F(ServerData, ChangesWaitForAnotherSessionsTransaction) {
  int a1, a2;
  auto one = session("writer", writer_password, &a1);
  auto two = session("writer", writer_password, &a2);
  int s1 = one->search(a1, "customers", {"id=1"});
  int s2 = two->search(a2, "customers", {"id=2"});
  ASSERT_GT(s1, 0);
  ASSERT_GT(s2, 0);
  ASSERT_EQ(one->set_value(a1, s1, "city", "A").code, 8);
  // Another record, but the database has one writer at a time: refused
  // once the wait runs out, not blocked for ever.
  EXPECT_EQ(two->set_value(a2, s2, "city", "B").code, reply_locked);
  ASSERT_EQ(one->commit(a1).code, 8);
  EXPECT_EQ(two->set_value(a2, s2, "city", "B").code, 8);
  EXPECT_EQ(two->commit(a2).code, 8);
  EXPECT_EQ(query("SELECT city FROM customers WHERE id <= 2 ORDER BY id"), "A,B");
}

TEST_F(ServerData, FailedChangesLeaveTheDatabaseFree) {
  int a1, a2, a3;
  auto one = session("writer", writer_password, &a1);
  auto two = session("writer", writer_password, &a2);
  auto admin = session("admin", admin_password, &a3);
  int orders = one->search(a1, "orders", {"item=pen"});
  int gone = one->search(a1, "customers", {"id=5"});
  int other = two->search(a2, "customers", {"id=6"});
  ASSERT_GT(orders, 0);
  ASSERT_GT(gone, 0);
  ASSERT_GT(other, 0);
  int del = admin->search(a3, "customers", {"id=5"});
  ASSERT_EQ(admin->call(40, {std::to_string(a3), std::to_string(del)}).code, 8);

  struct failed_change {
    const char *what;
    int set;
    const char *field;
    const char *value;
    int code;
  } cases[] = {
      {"a constraint the database enforces", orders, "qty", "\x1b", reply_database_error},
      {"a record deleted meanwhile", gone, "city", "Nowhere", reply_not_found},
  };
  for (const failed_change &fc : cases) {
    SCOPED_TRACE(fc.what);
    // The client sends no commit after a refused change: nothing of it may
    // keep holding the database.
    EXPECT_EQ(one->set_value(a1, fc.set, fc.field, fc.value).code, fc.code);
    EXPECT_EQ(two->set_value(a2, other, "city", fc.what).code, 8);
    EXPECT_EQ(two->commit(a2).code, 8);
  }
  EXPECT_EQ(query("SELECT qty FROM orders WHERE item = 'pen'"), "3");
}

TEST_F(ServerData, CloseSetForgetsIt) {
  int app;
  auto c = session("reader", reader_password, &app);
  int set = c->search(app, "customers", {});
  ASSERT_GT(set, 0);
  std::string a = std::to_string(app), s = std::to_string(set);
  raw_reply r = c->call(299, {a, s, "1", "-1", ""});
  EXPECT_EQ(r.code, 8);
  EXPECT_EQ(r.count, 0);
  EXPECT_NE(c->total(app, set).code, 8);
  EXPECT_NE(c->call(299, {a, s, "1", "-1", ""}).code, 8);
}

TEST_F(ServerData, SetsBelongToTheirSession) {
  int a1, a2;
  auto one = session("reader", reader_password, &a1);
  auto two = session("reader", reader_password, &a2);
  int s1 = one->search(a1, "customers", {});
  ASSERT_GT(s1, 0);
  raw_reply r = two->total(a2, s1);
  EXPECT_EQ(r.code, reply_not_found);
}

}  // namespace
}  // namespace talvortest
