// The handle checks every operation makes before it sends anything.
#include <string>
#include <vector>

#include "operation_table.h"
#include "ops_fixture.h"
#include "protocol.h"

namespace opstest {
namespace {

class OperationChecksTest : public ConnectedTest {};

TEST_F(OperationChecksTest, BadHandlesAreRefusedWithoutSending) {
  struct Case {
    const char *name;
    int handle;
    int code;
  } cases[] = {{"handle 1024", 1024, 12}, {"handle -1", -1, 12}, {"empty slot", 5, 11}};
  int valid = make_entry(7, 11, 3);
  for (const HandleOperation &op : handle_operations()) {
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(op.name) + ", " + c.name);
      global_error = 99;
      EXPECT_EQ(op.failure, op.call(c.handle, valid));
      EXPECT_EQ(c.code, TalvorError());
    }
  }
  EXPECT_EQ((std::vector<int>{7, 11, 3, 0, 1, 1}), entry_fields(valid));
  expect_nothing_sent();
}

TEST_F(OperationChecksTest, LevelIsCheckedBeforeTheHandle) {
  global_user_level = 0;
  struct Case {
    const char *name;
    std::function<void()> call;
    int code;
  } cases[] = {
      {"SetValue", [] { TalvorSetValue(1024, Arg("f"), Arg("v")); }, 15},
      {"CreateNewRecord", [] { TalvorCreateNewRecord(1024); }, 15},
      {"DeleteRecord", [] { TalvorDeleteRecord(1024); }, 15},
      {"Reparent", [] { TalvorReparent(1024, Arg("s"), 1024); }, 15},
      {"RunProgram", [] { free(TalvorRunProgram(1024, Arg("p"), Arg("a"), 0)); }, 15},
      {"RemoveRecord has no level test", [] { TalvorRemoveRecord(1024); }, 12},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    c.call();
    EXPECT_EQ(c.code, TalvorError());
  }
  global_user_level = 2;
  expect_nothing_sent();
}

// A text equal to the END_OF_LIST marker would end the request early
// wherever it stands: every peer takes that block for the end of a request,
// and the blocks after it would be read as a command of their own. Each text
// argument that would travel as such a block is refused before anything is
// sent, and the next call finds the streams in step.
TEST_F(OperationChecksTest, TextsEqualToTheEndOfListMarkerAreRefusedWithoutSending) {
  const char *m = "0?432984_|_END_OF_LIST";
  int h = make_entry(7, 11, 3);
  int target = make_entry(7, 12, 3);
  struct Case {
    const char *name;
    std::function<std::string()> call;
    std::string failure;
  } cases[] = {
      {"GetValue field", [&] { return text_outcome(TalvorGetValue(h, Arg(m))); }, "text:"},
      {"SubSet name", [&] { return std::to_string(TalvorSubSet(h, Arg(m))); }, "-1"},
      {"Reparent name", [&] { TalvorReparent(h, Arg(m), target); return std::string("none"); }, "none"},
      {"RunProgram argument",
       [&] { return text_outcome(TalvorRunProgram(h, Arg("p"), Arg(m), 1)); }, "text:"},
      {"Search application",
       [&] { return std::to_string(TalvorSearch(Arg(m), Arg("f"), 0, 0, Arg(""), Arg("u"), Arg("p"))); }, "-1"},
      {"Search form",
       [&] { return std::to_string(TalvorSearch(Arg("a"), Arg(m), 0, 0, Arg(""), Arg("u"), Arg("p"))); }, "-1"},
      {"Search user",
       [&] { return std::to_string(TalvorSearch(Arg("a"), Arg("f"), 0, 0, Arg(""), Arg(m), Arg("p"))); }, "-1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    server().clear();
    EXPECT_EQ(c.failure, c.call());
    EXPECT_EQ(19, TalvorError());
    expect_nothing_sent();
  }
  // A password whose scrambled form is the marker would be sent as that
  // block too.
  std::string password = m;
  talvor_scramble_bytes(reinterpret_cast<unsigned char *>(&password[0]), password.size());
  server().clear();
  EXPECT_EQ(-1, TalvorSearch(Arg("a"), Arg("f"), 0, 0, Arg(""), Arg("u"), Arg(password.c_str())));
  EXPECT_EQ(19, TalvorError());
  expect_nothing_sent();
}

}  // namespace
}  // namespace opstest
