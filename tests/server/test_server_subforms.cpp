// Subrecords, parents, reparenting, server programs and the demo
// application of the reference server.
#include "reply_codes.h"
#include "server/server_fixture.h"
#include "support/temp_dir.h"

namespace talvortest {
namespace {

using ServerSubforms = ReferenceServer;
using ServerPrograms = ReferenceServer;

// Runs command 314 or 318 and returns the new set, -1 on a refusal.
int subset(raw_client &c, int app, int set, const std::string &form, int *form_id = nullptr) {
  raw_reply r = c.call(314, {std::to_string(app), std::to_string(set), form});
  if (r.code != 8 || r.blocks.size() != 2) return -1;
  if (form_id != nullptr) *form_id = atoi(r.blocks[1].c_str());
  return atoi(r.blocks[0].c_str());
}

int parent(raw_client &c, int app, int set, int *form_id = nullptr) {
  raw_reply r = c.call(318, {std::to_string(app), std::to_string(set)});
  if (r.code != 8 || r.blocks.size() != 2) return -1;
  if (form_id != nullptr) *form_id = atoi(r.blocks[1].c_str());
  return atoi(r.blocks[0].c_str());
}

raw_reply reparent(raw_client &c, int app, int set, const std::string &text, int target) {
  return c.call(274, {std::to_string(app), std::to_string(set), text, std::to_string(target)});
}

TEST_F(ServerSubforms, SubSetHoldsTheSubrecordsOfTheCurrentRecord) {
  int app;
  auto c = session("reader", reader_password, &app);
  int customers = c->search(app, "customers", {"city=Oslo"});
  ASSERT_GT(customers, 0);
  int form = 0;
  int orders = subset(*c, app, customers, "orders", &form);
  ASSERT_GT(orders, 0);
  EXPECT_EQ(form, c->form(app, "orders"));
  EXPECT_EQ(c->move(app, orders, 0).code, 8);  // the client's first move
  EXPECT_EQ(names(*c, app, orders, "item"), (std::vector<std::string>{"pen", "ink"}));

  ASSERT_EQ(c->move(app, customers, 1).code, 8);  // Alva Dahl
  int hers = subset(*c, app, customers, "ORDERS");
  EXPECT_EQ(names(*c, app, hers, "item"), std::vector<std::string>{"pad"});

  int none_app;
  auto d = session("reader", reader_password, &none_app);
  int bo = d->search(none_app, "customers", {"id=2"});
  int empty = subset(*d, none_app, bo, "orders");
  ASSERT_GT(empty, 0);
  EXPECT_EQ(d->total(none_app, empty).blocks[0], "0");
  EXPECT_EQ(d->move(none_app, empty, 0).code, 8);

  // Only forms that link to the record's form are subforms of it.
  for (const char *bad : {"memos", "customers", "nosuch", "talvor_users", ""}) {
    SCOPED_TRACE(bad);
    raw_reply r = c->call(314, {std::to_string(app), std::to_string(customers), bad});
    EXPECT_NE(r.code, 8);
    EXPECT_EQ(r.count, 0);
  }
}

TEST_F(ServerSubforms, ParentFindsTheOwningRecord) {
  int app;
  auto c = session("reader", reader_password, &app);
  int customers = c->search(app, "customers", {"id=1"});
  int orders = subset(*c, app, customers, "orders");
  ASSERT_GT(orders, 0);
  int form = 0;
  int owner = parent(*c, app, orders, &form);
  ASSERT_GT(owner, 0);
  EXPECT_EQ(form, c->form(app, "customers"));
  EXPECT_EQ(names(*c, app, owner), std::vector<std::string>{"Alma Berg"});

  // From a plain search of the subform too.
  int pad = c->search(app, "orders", {"item=pad"});
  EXPECT_EQ(names(*c, app, parent(*c, app, pad)), std::vector<std::string>{"Alva Dahl"});

  // Records without a parent.
  EXPECT_EQ(parent(*c, app, customers), -1);
  exec("INSERT INTO orders (id, customer_id, item) VALUES (9, NULL, 'orphan')");
  int orphan = c->search(app, "orders", {"item=orphan"});
  ASSERT_GT(orphan, 0);
  EXPECT_EQ(parent(*c, app, orphan), -1);
}

TEST_F(ServerSubforms, CreateInASubSetLinksToItsParent) {
  int app;
  auto c = session("writer", writer_password, &app);
  int customers = c->search(app, "customers", {"id=4"});
  int form = 0;
  int orders = subset(*c, app, customers, "orders", &form);
  ASSERT_GT(orders, 0);
  ASSERT_EQ(c->call(272, {std::to_string(app), std::to_string(orders), std::to_string(form)}).code,
            8);
  ASSERT_EQ(c->set_value(app, orders, "item", "stapler").code, 8);
  ASSERT_EQ(c->commit(app).code, 8);
  EXPECT_EQ(query("SELECT customer_id FROM orders WHERE item = 'stapler'"), "4");
  EXPECT_EQ(c->total(app, orders).blocks[0], "1");
}

TEST_F(ServerSubforms, ReparentMovesTheRecordUnderTheTargetsRecord) {
  int app;
  auto c = session("writer", writer_password, &app);
  int alma = c->search(app, "customers", {"id=1"});
  int bo = c->search(app, "customers", {"id=2"});
  int orders = subset(*c, app, alma, "orders");
  ASSERT_GT(orders, 0);
  ASSERT_EQ(c->move(app, orders, 0).code, 8);  // pen

  ASSERT_EQ(reparent(*c, app, orders, "orders", bo).code, 8);
  ASSERT_EQ(c->commit(app).code, 8);
  EXPECT_EQ(query("SELECT customer_id FROM orders WHERE item = 'pen'"), "2");
  // It left Alma's subrecords and joined Bo's.
  EXPECT_EQ(names(*c, app, orders, "item"), std::vector<std::string>{"ink"});
  EXPECT_EQ(names(*c, app, subset(*c, app, bo, "orders"), "item"),
            std::vector<std::string>{"pen"});

  // An empty subset text means the set's own form.
  ASSERT_EQ(reparent(*c, app, orders, "", bo).code, 8);
  ASSERT_EQ(c->commit(app).code, 8);
  EXPECT_EQ(query("SELECT customer_id FROM orders ORDER BY id"), "2,2,3");

  int memos = c->search(app, "memos", {});
  int pad = c->search(app, "orders", {"item=pad"});
  struct refusal {
    const char *what;
    int set;
    const char *text;
    int target;
  } cases[] = {
      {"a subset text naming another form", pad, "customers", bo},
      {"a target without a link", pad, "orders", memos},
      {"a record that is not a subrecord", bo, "customers", alma},
      {"an unknown target", pad, "orders", 9999},
  };
  for (const refusal &rc : cases) {
    SCOPED_TRACE(rc.what);
    raw_reply r = reparent(*c, app, rc.set, rc.text, rc.target);
    EXPECT_NE(r.code, 8);
    EXPECT_EQ(r.count, 0);
  }
  EXPECT_EQ(query("SELECT customer_id FROM orders WHERE item = 'pad'"), "3");
}

TEST_F(ServerSubforms, ReparentNeedsLevelOneAndAFreeRecord) {
  int app;
  auto reader = session("reader", reader_password, &app);
  int bo = reader->search(app, "customers", {"id=2"});
  int pad = reader->search(app, "orders", {"item=pad"});
  EXPECT_EQ(reparent(*reader, app, pad, "orders", bo).code, reply_not_permitted);

  int a1, a2;
  auto one = session("writer", writer_password, &a1);
  auto two = session("writer", writer_password, &a2);
  int pad1 = one->search(a1, "orders", {"item=pad"});
  ASSERT_EQ(one->set_value(a1, pad1, "qty", "6").code, 8);  // held, not committed
  int pad2 = two->search(a2, "orders", {"item=pad"});
  int bo2 = two->search(a2, "customers", {"id=2"});
  EXPECT_EQ(reparent(*two, a2, pad2, "orders", bo2).code, reply_locked);
  EXPECT_EQ(query("SELECT customer_id FROM orders WHERE item = 'pad'"), "3");
}

TEST_F(ServerPrograms, ProgramsAnswerRowsAsText) {
  int app;
  auto c = session("admin", admin_password, &app);
  int set = c->search(app, "customers", {"id=3"});  // Alva Dahl of Oslo
  ASSERT_GT(set, 0);
  struct program_case {
    const char *program;
    const char *argument;
    const char *answer;
  } cases[] = {
      {"SELECT name, city FROM customers WHERE city = :city ORDER BY id\n", "",
       "Alma Berg\tOslo\nAlva Dahl\tOslo\n"},
      {"SELECT :arg || '!'\n", "hi", "hi!\n"},
      {"SELECT :rowid, :NAME, @credit, $note\n", "", "3\tAlva Dahl\t400\tvip\n"},
      {"SELECT 1; SELECT 2, NULL;\n", "", "1\n2\t\n"},
      {"SELECT 'a' || char(9) || 'b' || char(10) || 'c\\d'\n", "", "a\\tb\\nc\\\\d\n"},
      {"SELECT name FROM customers WHERE 0\n", "", ""},
      {"\n", "", ""},
      {"SELECT count(*) FROM orders WHERE customer_id = :id -- a comment\n", "", "1\n"},
      {"SELECT :arg\n", "x'); DROP TABLE memos; --", "x'); DROP TABLE memos; --\n"},
  };
  for (const program_case &pc : cases) {
    SCOPED_TRACE(pc.program);
    raw_reply r =
        c->call(313, {std::to_string(app), std::to_string(set), pc.program, pc.argument, "1"});
    ASSERT_EQ(r.code, 8);
    ASSERT_EQ(r.blocks.size(), 1u);
    EXPECT_EQ(r.blocks[0], pc.answer);
  }
  EXPECT_EQ(query("SELECT count(*) FROM memos"), "1");
}

TEST_F(ServerPrograms, OnlyFlagZeroMayChangeAndItWaitsForTheCommit) {
  int app;
  auto c = session("admin", admin_password, &app);
  int set = c->search(app, "customers", {"id=3"});
  std::string a = std::to_string(app), s = std::to_string(set);
  const char *update = "UPDATE customers SET credit = credit + CAST(:arg AS INTEGER) WHERE id = :id\n";

  raw_reply r = c->call(313, {a, s, update, "5", "1"});
  EXPECT_EQ(r.code, reply_not_permitted);
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(query("SELECT credit FROM customers WHERE id = 3"), "400");

  r = c->call(313, {a, s, update, "5", "0"});
  ASSERT_EQ(r.code, 8);
  EXPECT_EQ(r.blocks, std::vector<std::string>{""});
  EXPECT_EQ(query("SELECT credit FROM customers WHERE id = 3"), "400");
  ASSERT_EQ(c->commit(app).code, 8);
  EXPECT_EQ(query("SELECT credit FROM customers WHERE id = 3"), "405");

  // A program runs whole or not at all.
  r = c->call(313, {a, s,
                    "UPDATE customers SET credit = 0 WHERE id = 1;"
                    " INSERT INTO customers (id) VALUES (1);\n",
                    "", "0"});
  EXPECT_NE(r.code, 8);
  ASSERT_EQ(c->commit(app).code, 8);
  EXPECT_EQ(query("SELECT credit FROM customers WHERE id = 1"), "100");
}

TEST_F(ServerPrograms, ProgramsNeedLevelTwo) {
  int app;
  auto c = session("writer", writer_password, &app);
  int set = c->search(app, "customers", {});
  raw_reply r = c->call(313, {std::to_string(app), std::to_string(set), "SELECT 1\n", "", "1"});
  EXPECT_EQ(r.code, reply_not_permitted);
  EXPECT_EQ(r.count, 0);
}

TEST_F(ServerPrograms, ProgramsStayInsideTheForms) {
  int app;
  auto c = session("admin", admin_password, &app);
  int set = c->search(app, "customers", {"id=1"});
  std::string attach = "ATTACH DATABASE '" + dir_ + "/other.db' AS other\n";
  std::vector<std::string> programs = {
      "SELECT * FROM talvor_users\n",
      "SELECT name FROM talvor_users WHERE level = 2\n",
      "SELECT count(*) FROM talvor_users\n",
      "SELECT rowid FROM talvor_users\n",
      "SELECT 1 FROM customers, talvor_users\n",
      "SELECT (SELECT max(level) FROM talvor_users)\n",
      "DELETE FROM talvor_users\n",
      "UPDATE talvor_users SET level = 2\n",
      "INSERT INTO talvor_users VALUES ('x', 's', 'h', 2)\n",
      "SELECT sql FROM sqlite_master\n",
      attach,
      "PRAGMA table_info(customers)\n",
      "PRAGMA writable_schema = 1\n",
      "CREATE TABLE t(x)\n",
      "DROP TABLE memos\n",
      "ALTER TABLE memos ADD COLUMN y\n",
      "BEGIN\n",
      "COMMIT\n",
      "SAVEPOINT s\n",
      "VACUUM\n",
      "SELECT :nosuch\n",
      "SELECT ?\n",
      "SELECT ?1\n",
      "SELEC 1\n",
      "SELECT load_extension('libc.so.6')\n",
      "SELECT 1; DROP TABLE memos\n",
      "DELETE FROM memos; DROP TABLE memos\n",
  };
  for (const std::string &p : programs) {
    SCOPED_TRACE(p);
    raw_reply r = c->call(313, {std::to_string(app), std::to_string(set), p, "", "0"});
    ASSERT_TRUE(r.ok);
    EXPECT_NE(r.code, 8);
    EXPECT_EQ(r.count, 0);
  }
  ASSERT_EQ(c->commit(app).code, 8);
  EXPECT_EQ(query("SELECT count(*) FROM memos"), "1");
  EXPECT_EQ(query("SELECT name || level FROM talvor_users ORDER BY name"), "admin2,reader0,writer1");
  EXPECT_EQ(query("SELECT count(*) FROM sqlite_master WHERE name IN ('t', 'other')"), "0");
  EXPECT_EQ(access((dir_ + "/other.db").c_str(), F_OK), -1);
  EXPECT_EQ(c->total(app, set).code, 8);
}

TEST_F(ServerPrograms, RunawayProgramsAreStopped) {
  restart([](server_config &c) { c.program_timeout_ms = 300; });
  int app;
  auto c = session("admin", admin_password, &app);
  int set = c->search(app, "customers", {});
  raw_reply r = c->call(313, {std::to_string(app), std::to_string(set),
                              "WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r)"
                              " SELECT count(*) FROM r\n",
                              "", "1"});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.code, reply_limit);
  EXPECT_EQ(c->total(app, set).code, 8);
}

TEST(ServerDemo, DemoApplicationServesItsUsersAndSubforms) {
  TempDir scratch("talvor-demo-test");
  ASSERT_TRUE(scratch.ok()) << "no scratch directory";
  std::string dir = scratch.path(), error;
  ASSERT_TRUE(init_demo(dir, &error)) << error;
  EXPECT_FALSE(init_demo(dir, &error));  // never overwrites
  talvor_server *server = start_server(dir, 0, &error);
  ASSERT_NE(server, nullptr) << error;

  for (const demo_user &u : demo_users) {
    SCOPED_TRACE(u.name);
    raw_client c(server_command_port(server));
    ASSERT_TRUE(c.handshake());
    int app = c.open_application("demo");
    raw_reply login = c.login(app, u.name, u.password);
    ASSERT_EQ(login.code, 8);
    EXPECT_EQ(login.blocks[1], std::to_string(u.level));
  }
  raw_client c(server_command_port(server));
  int app = c.start("demo", demo_users[0].name, demo_users[0].password);
  ASSERT_GT(app, 0);
  raw_reply found;
  int customers = c.search(app, "customers", {"name=B*"}, &found);
  ASSERT_GT(customers, 0);
  EXPECT_EQ(found.blocks[0], "1");
  raw_reply r = c.call(314, {std::to_string(app), std::to_string(customers), "orders"});
  ASSERT_EQ(r.code, 8);
  int orders = atoi(r.blocks[0].c_str());
  EXPECT_EQ(c.total(app, orders).blocks[0], "1");
  r = c.call(314, {std::to_string(app), std::to_string(orders), "order_lines"});
  ASSERT_EQ(r.code, 8);
  int lines = atoi(r.blocks[0].c_str());
  EXPECT_EQ(c.total(app, lines).blocks[0], "2");
  r = c.call(318, {std::to_string(app), std::to_string(lines)});
  ASSERT_EQ(r.code, 8);
  EXPECT_EQ(atoi(r.blocks[1].c_str()), c.form(app, "orders"));

  stop_server(server);
}

}  // namespace
}  // namespace talvortest
