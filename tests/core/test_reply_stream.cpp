// The reply pipe stays in step whatever a reply holds: blocks an operation
// does not read are drained before the next command, and a block the reply
// did not announce is missing instead of waited for.
#include "core/ops_fixture.h"

namespace opstest {
namespace {

class ReplyStreamTest : public ConnectedTest {};

TEST_F(ReplyStreamTest, UnreadBlocksNeverReachTheNextOperation) {
  struct Case {
    const char *what;
    Reply answer;  // the reply to TalvorGetCurrentPosition
    int result, code;
  } cases[] = {
      {"refused reply with blocks", reply(43, texts({"6\nnext", "x"})), -1, 7},
      {"extra blocks after the one read", ok({"4", "extra", "more"}), 5, 0},
      {"refused open list", [] {
         Reply r = reply(43, {T("a"), T("b\n"), end_marker()});
         r.count = -1;
         return r;
       }(), -1, 7},
      {"open list answer", [] {
         Reply r = ok({"1", "tail"});
         r.blocks.push_back(end_marker());
         r.count = -1;
         return r;
       }(), 2, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    server().clear();
    int h = make_entry(1, 2, 3);
    server().push(c.answer);
    EXPECT_EQ(c.result, TalvorGetCurrentPosition(h));
    EXPECT_EQ(c.code, TalvorError());
    expect_only_probe_after(1);
    free_slot(h);
  }
}

TEST_F(ReplyStreamTest, MissingBlockWithMoreBehindIsDrained) {
  int h = make_entry(1, 2, 3, 7);
  // Delete reads two blocks; the first is missing, so it stops there.
  server().push(reply(8, {missing(), T("1\nz"), T("q")}));
  TalvorDeleteRecord(h);
  EXPECT_EQ(6, TalvorError());
  EXPECT_EQ(7, ResultSet[h]->locked);
  expect_only_probe_after(1);
}

TEST_F(ReplyStreamTest, FewerBlocksThanNeededIsAMissingBlockNotAHang) {
  int h = make_entry(1, 2, 3);
  server().push(ok());
  EXPECT_EQ(-1, TalvorTotal(h));
  EXPECT_EQ(6, TalvorError());
  expect_only_probe_after(1);
}

// Numbers from the server are read as a 32-bit atoi reads them on every
// platform: beyond int they saturate instead of wrapping round.
TEST_F(ReplyStreamTest, NumbersBeyondIntSaturate) {
  struct Case {
    const char *block;
    int result;
  } cases[] = {
      {"4294967297", 2147483647}, {"-4294967297", -2147483647 - 1}, {"  -12abc", -12}, {"x", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.block);
    int h = make_entry(1, 2, 3);
    server().push(ok({c.block}));
    EXPECT_EQ(c.result, TalvorTotal(h));
    EXPECT_EQ(0, TalvorError());
    free_slot(h);
  }
}

}  // namespace
}  // namespace opstest
