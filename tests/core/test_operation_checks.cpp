// The handle checks every operation makes before it sends anything.
#include <string>
#include <vector>

#include "operation_table.h"
#include "ops_fixture.h"

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

}  // namespace
}  // namespace opstest
