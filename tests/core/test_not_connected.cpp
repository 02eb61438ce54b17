// Operations without a live connection are refused with code 18 and touch
// no pipe; their own checks still come first.
#include <string>
#include <vector>

#include "operation_table.h"
#include "ops_fixture.h"

namespace opstest {
namespace {

class NotConnectedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (active_com > 0) TalvorDisconnect();
    ASSERT_EQ(0, active_com.load());
    free_all_slots();
  }
  void TearDown() override {
    free_all_slots();
    global_user_level = 2;
  }

  // Every operation on a valid entry gives 18 and its failure result; the
  // entry is unchanged and TalvorLocked still answers.
  void expect_all_refused() {
    int h = make_entry(7, 11, 3, 1, 4, 2);
    int other = make_entry(7, 12, 3);
    for (const HandleOperation &op : handle_operations()) {
      SCOPED_TRACE(op.name);
      EXPECT_EQ(op.failure, op.call(h, other));
      EXPECT_EQ(18, TalvorError());
    }
    Text app("A"), form("F"), items("a"), user("u"), pw("p");
    EXPECT_EQ(-1, TalvorSearch(app.get(), form.get(), 0, 0, items.get(), user.get(), pw.get()));
    EXPECT_EQ(18, TalvorError());
    EXPECT_EQ(1, TalvorLocked(h));
    EXPECT_EQ(0, TalvorError());
    EXPECT_EQ((std::vector<int>{7, 11, 3, 1, 4, 2}), entry_fields(h));
    EXPECT_EQ(2, used_slots());
    free_all_slots();
  }
};

TEST_F(NotConnectedTest, EveryOperationNeedingTheChannelIsRefused) { expect_all_refused(); }

TEST_F(NotConnectedTest, OwnChecksComeFirst) {
  int h = make_entry(7, 11, 3, 1, 4, 2);
  // Each case gets its own value text, and a refused set value must leave
  // it as it was: the trim comes after the checks.
  const char *const untrimmed = "  v  ";
  struct Case {
    const char *name;
    std::function<void()> call;
    int code;
  } cases[] = {
      {"null search text", [&] { EXPECT_EQ(-1, TalvorSearch(Arg("A"), Arg("F"), 0, 0, nullptr, Arg("u"), Arg("p"))); }, 0},
      {"handle 1024", [&] { EXPECT_EQ(-1, TalvorTotal(1024)); }, 12},
      {"empty slot", [&] { EXPECT_EQ(-1, TalvorTotal(h + 1)); }, 11},
      {"position 0", [&] { TalvorSetCurrentPosition(h, 0); }, 14},
      {"no sort item", [&] { TalvorSort(h, Arg("")); }, 13},
      {"level 0 set value", [&] {
         global_user_level = 0;
         Arg value(untrimmed);
         TalvorSetValue(h, Arg("f"), value);
         EXPECT_STREQ(untrimmed, value);
       }, 15},
      {"level 1 program", [&] { global_user_level = 1; free(TalvorRunProgram(h, Arg("f"), Arg(untrimmed), 0)); }, 15},
      {"refused set value leaves the text", [&] {
         global_user_level = 2;
         Arg value(untrimmed);
         TalvorSetValue(h, Arg("f"), value);
         EXPECT_STREQ(untrimmed, value);
       }, 18},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    global_error = 99;
    c.call();
    EXPECT_EQ(c.code, TalvorError());
  }
  EXPECT_EQ((std::vector<int>{7, 11, 3, 1, 4, 2}), entry_fields(h));
}

TEST_F(NotConnectedTest, AfterADisconnectNothingReachesTheServerAndAReconnectWorks) {
  ScriptServer server;
  Text address(server.address());
  ASSERT_EQ(1, TalvorConnect(address.get()));
  TalvorDisconnect();
  ASSERT_EQ(0, TalvorError());

  expect_all_refused();
  EXPECT_EQ((std::vector<int>{211, 265, 1}), codes_of(server.requests()));

  ASSERT_EQ(1, TalvorConnect(address.get()));
  int h = make_entry(7, 11, 3);
  server.push(ok({"12"}));
  EXPECT_EQ(12, TalvorTotal(h));
  EXPECT_EQ(0, TalvorError());
  TalvorDisconnect();
}

}  // namespace
}  // namespace opstest
