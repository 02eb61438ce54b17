// Counting, moving, asking the current position and the lock state.
#include <string>
#include <vector>

#include "ops_fixture.h"

namespace opstest {
namespace {

class NavigationTest : public ConnectedTest {};

TEST_F(NavigationTest, Total) {
  struct Row {
    const char *name;
    Reply answer;
    int result;
    int code;
  } rows[] = {
      {"count", ok({"17"}), 17, 0},
      {"server's own -1", ok({"-1"}), -1, 0},
      {"reply other than 8", reply(57), -1, 7},
      {"count missing", reply(8, {missing()}), -1, 6},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    int h = make_entry(7, 11, 3, 1, 4, 2);
    server().push(row.answer);
    EXPECT_EQ(row.result, TalvorTotal(h));
    EXPECT_EQ(row.code, TalvorError());
    std::vector<Request> r = sent();
    ASSERT_EQ(1u, r.size());
    expect_request(r[0], 59, 2, texts({"7", "11"}));
    EXPECT_EQ((std::vector<int>{7, 11, 3, 1, 4, 2}), entry_fields(h));
    free_slot(h);
  }
}

TEST_F(NavigationTest, SetCurrentPosition) {
  // Entry before each row: position 3, previous 2, locked 0.
  struct Row {
    const char *name;
    int position;
    std::vector<Reply> answers;
    int code;
    const char *sent_position;  // null: nothing sent
    int position_after, previous_after, locked_after;
  } rows[] = {
      {"record 1 is 0 on the wire", 1, {ok({"1"})}, 0, "0", 1, 3, 1},
      {"record 5", 5, {ok({"0"})}, 0, "4", 5, 3, 0},
      {"beyond the last record is sent, server refuses", 1000000, {reply(9)}, 7, "999999", 3, 3, 0},
      {"lock state missing", 2, {reply(8, {missing()})}, 6, "1", 3, 3, 0},
      {"position 0", 0, {}, 14, nullptr, 3, 2, 0},
      {"negative position", -3, {}, 14, nullptr, 3, 2, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    int h = make_entry(7, 11, 3, 0, 3, 2);
    for (const Reply &r : row.answers) server().push(r);
    TalvorSetCurrentPosition(h, row.position);
    EXPECT_EQ(row.code, TalvorError());
    EXPECT_EQ((std::vector<int>{7, 11, 3, row.locked_after, row.position_after, row.previous_after}),
              entry_fields(h));
    if (row.sent_position) {
      std::vector<Request> r = sent();
      ASSERT_EQ(1u, r.size());
      expect_request(r[0], 86, 3, texts({"7", "11", row.sent_position}));
    } else {
      expect_nothing_sent();
    }
    free_slot(h);
  }
}

TEST_F(NavigationTest, GetCurrentPositionAsksTheServer) {
  struct Row {
    const char *name;
    Reply answer;
    int result;
    int code;
  } rows[] = {
      {"0 on the wire is record 1", ok({"0"}), 1, 0},
      {"server's idea differs from the entry", ok({"6"}), 7, 0},
      {"reply other than 8", reply(43), -1, 7},
      {"position missing", reply(8, {missing()}), -1, 6},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    int h = make_entry(7, 11, 3, 0, 2, 1);
    server().push(row.answer);
    EXPECT_EQ(row.result, TalvorGetCurrentPosition(h));
    EXPECT_EQ(row.code, TalvorError());
    std::vector<Request> r = sent();
    ASSERT_EQ(1u, r.size());
    expect_request(r[0], 273, 2, texts({"7", "11"}));
    EXPECT_EQ((std::vector<int>{7, 11, 3, 0, 2, 1}), entry_fields(h)) << "the entry is not touched";
    free_slot(h);
  }
}

TEST_F(NavigationTest, LockedReadsTheEntryAndSendsNothing) {
  int h = make_entry(7, 11, 3, 1);
  struct Row {
    int handle;
    int result;
    int code;
  } rows[] = {{h, 1, 0}, {1024, -1, 12}, {-1, -1, 12}, {h + 1, -1, 11}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.handle);
    EXPECT_EQ(row.result, TalvorLocked(row.handle));
    EXPECT_EQ(row.code, TalvorError());
  }
  ResultSet[h]->locked = -1;
  EXPECT_EQ(-1, TalvorLocked(h));
  EXPECT_EQ(0, TalvorError());
  expect_nothing_sent();
}

}  // namespace
}  // namespace opstest
