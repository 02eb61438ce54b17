// Sorting, subforms and server programs.
#include <string>
#include <vector>

#include "ops_fixture.h"

namespace opstest {
namespace {

std::vector<std::string> sort_blocks(const std::vector<std::string> &items) {
  std::vector<std::string> blocks = texts({"7", "11", std::to_string(items.size())});
  for (const std::string &item : items) blocks.push_back(T(item));
  blocks.push_back(end_marker());
  return blocks;
}

class SortTest : public ConnectedTest {
 protected:
  // Sorts a fresh entry; returns the code.
  int sort(const char *sort_text, Reply answer = ok({"0"})) {
    server().clear();
    int h = make_entry(7, 11, 3, 1, 4, 2);
    Text text(sort_text ? sort_text : "");
    server().push(answer);
    TalvorSort(h, sort_text ? text.get() : nullptr);
    int code = TalvorError();
    EXPECT_EQ((std::vector<int>{7, 11, 3, 1, 4, 2}), entry_fields(h)) << "sorting leaves the entry alone";
    free_slot(h);
    return code;
  }
};

TEST_F(SortTest, PicksTheSortItems) {
  struct Row {
    const char *text;
    std::vector<std::string> items;
  } rows[] = {
      {"NAME:1;DATE:-1", {"NAME:1", "DATE:-1"}},
      {"A:1;junk;B:0;C:2;;D:-1", {"A:1", "D:-1"}},
      {"NAME: 1;NAME:+1;NAME:1x", {"NAME: 1", "NAME:+1", "NAME:1x"}},
      {"NAME:1:2", {"NAME:1:2"}},
      {":1", {":1"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(0, sort(row.text));
    std::vector<Request> r = sent();
    ASSERT_EQ(1u, r.size());
    expect_request(r[0], 85, -1, sort_blocks(row.items));
  }
}

TEST_F(SortTest, NoSortItemGivesCode13AndSendsNothing) {
  const char *rows[] = {nullptr, "", "NAME", "NAME:0;DATE:2;;", "NAME:x", ";",
                        "NAME:4294967297;DATE:18446744073709551615"};
  for (const char *text : rows) {
    SCOPED_TRACE(text ? text : "(null)");
    server().clear();
    int h = make_entry(7, 11, 3);
    Text t(text ? text : "");
    TalvorSort(h, text ? t.get() : nullptr);
    EXPECT_EQ(13, TalvorError());
    free_slot(h);
    expect_nothing_sent();
  }
}

TEST_F(SortTest, SplitsOnTheChangedSeparator) {
  global_string_array_separator = ',';
  EXPECT_EQ(0, sort("A:1,B:-1"));
  expect_request(sent().at(0), 85, -1, sort_blocks({"A:1", "B:-1"}));
  // The old separator is now part of a piece.
  EXPECT_EQ(0, sort("A:1;B:-1"));
  expect_request(sent().at(0), 85, -1, sort_blocks({"A:1;B:-1"}));
}

TEST_F(SortTest, LongItemsAreCutTo2046Characters) {
  std::string item = "F:1" + std::string(2997, 'x');
  ASSERT_EQ(3000u, item.size());
  std::string text = "A:1;" + item + ";B:-1";
  EXPECT_EQ(0, sort(text.c_str()));
  expect_request(sent().at(0), 85, -1, sort_blocks({"A:1", item.substr(0, 2046), "B:-1"}));
}

TEST_F(SortTest, AtMost4096ItemsAreTaken) {
  std::string text;
  std::vector<std::string> items;
  for (int i = 0; i < 4100; ++i) {
    std::string item = "f" + std::to_string(i) + ":1";
    if (i < 4096) items.push_back(item);
    text += (i ? ";" : "") + item;
  }
  EXPECT_EQ(0, sort(text.c_str()));
  expect_request(sent().at(0), 85, -1, sort_blocks(items));
}

TEST_F(SortTest, ReplyFailures) {
  EXPECT_EQ(7, sort("A:1", reply(9)));
  EXPECT_EQ(6, sort("A:1", reply(8, {missing()})));
  expect_only_probe_after(1);
}

class SubformsTest : public ConnectedTest {};

TEST_F(SubformsTest, SubSetAndParentMakeANewResultSetAndMoveToItsFirstRecord) {
  struct Row {
    const char *name;
    bool subset;
    std::vector<Reply> answers;
    int result;
    int code;
    std::vector<int> entry;  // of the new set: application, set, form, locked, position, previous
    std::vector<int> sent_codes;
  } rows[] = {
      {"subset", true, {ok({"21", "4"}), ok({"1"})}, 2, 0, {7, 21, 4, 1, 1, 1}, {314, 86}},
      {"parent", false, {ok({"21", "4"}), ok({"0"})}, 2, 0, {7, 21, 4, 0, 1, 1}, {318, 86}},
      {"subset, first move refused", true, {ok({"21", "4"}), reply(9)}, 2, 7, {7, 21, 4, 0, 1, 1}, {314, 86}},
      {"parent, first move without its block", false, {ok({"21", "4"}), reply(8, {missing()})}, 2, 6, {7, 21, 4, 0, 1, 1},
       {318, 86}},
      {"subset refused", true, {reply(9)}, -1, 7, {}, {314}},
      {"subset without the form", true, {reply(8, {T("21"), missing()})}, -1, 6, {}, {314}},
      {"parent without the set", false, {reply(8, {missing()})}, -1, 6, {}, {318}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    // Slots 0, 1 and 3 taken: the lowest empty one is 2.
    int source = make_entry(7, 11, 3, 1, 4, 2);
    make_entry(1, 1, 1);
    make_entry(1, 1, 1);
    make_entry(1, 1, 1);
    free_slot(2);
    global_user_level = 0;  // no level needed
    for (const Reply &r : row.answers) server().push(r);
    Text name("Lines");
    int h = row.subset ? TalvorSubSet(source, name.get()) : TalvorParent(source);
    EXPECT_EQ(row.result, h);
    EXPECT_EQ(row.code, TalvorError());
    EXPECT_EQ(row.entry, entry_fields(2));
    EXPECT_EQ((std::vector<int>{7, 11, 3, 1, 4, 2}), entry_fields(source));
    std::vector<Request> r = sent();
    ASSERT_EQ(row.sent_codes, codes_of(r));
    if (row.subset)
      expect_request(r[0], 314, 3, texts({"7", "11", "Lines"}));
    else
      expect_request(r[0], 318, 2, texts({"7", "11"}));
    if (r.size() > 1) expect_request(r[1], 86, 3, texts({"7", "21", "0"}));
    free_all_slots();
  }
}

TEST_F(SubformsTest, ParentOfASubsetKeepsTheApplicationAndOutlivesTheSourceClose) {
  int source = make_entry(7, 11, 3);
  server().push(ok({"21", "4"}));
  server().push(ok({"0"}));
  Text name("Lines");
  int sub = TalvorSubSet(source, name.get());
  ASSERT_EQ(1, sub);
  server().push(ok({"11", "3"}));
  server().push(ok({"0"}));
  int parent = TalvorParent(sub);
  ASSERT_EQ(2, parent);
  EXPECT_EQ(0, TalvorError());
  EXPECT_EQ((std::vector<int>{7, 11, 3, 0, 1, 1}), entry_fields(parent));

  server().push(ok({"0"}));
  server().push(ok());
  TalvorClose(source);
  ASSERT_EQ(0, TalvorError());
  EXPECT_EQ(nullptr, ResultSet[source]);
  EXPECT_EQ((std::vector<int>{7, 21, 4, 0, 1, 1}), entry_fields(sub));
  EXPECT_EQ((std::vector<int>{7, 11, 3, 0, 1, 1}), entry_fields(parent));
}

TEST_F(SubformsTest, FullTableGivesCode16AfterTheServerAnswered) {
  for (int i = 0; i < result_set_slots; ++i) make_entry(7, i, 3);
  Text name("Lines");
  struct Row {
    bool subset;
    int command;
  } rows[] = {{true, 314}, {false, 318}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.command);
    server().clear();
    server().push(ok({"21", "4"}));
    EXPECT_EQ(-1, row.subset ? TalvorSubSet(5, name.get()) : TalvorParent(5));
    EXPECT_EQ(16, TalvorError());
    EXPECT_EQ(std::vector<int>{row.command}, codes_of(sent()));
    EXPECT_EQ(result_set_slots, used_slots());
  }
}

TEST_F(SubformsTest, Reparent) {
  struct Row {
    const char *name;
    int level;
    int target;  // -2: the made target
    std::vector<Reply> answers;
    int code;
    std::vector<int> sent_codes;
  } rows[] = {
      {"moved and followed up", 1, -2, {ok(), ok()}, 0, {274, 58}},
      {"level 0 refused", 0, -2, {}, 15, {}},
      {"target outside the table", 2, 1024, {}, 12, {}},
      {"negative target", 2, -1, {}, 12, {}},
      {"target slot empty", 2, 9, {}, 11, {}},
      {"refused: no follow-up", 2, -2, {reply(9)}, 7, {274}},
      {"follow-up refused", 2, -2, {ok(), reply(9)}, 7, {274, 58}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    global_user_level = row.level;
    int h = make_entry(7, 11, 3);
    int target = make_entry(8, 31, 5);  // its application is not sent
    for (const Reply &r : row.answers) server().push(r);
    Text name("Lines");
    TalvorReparent(h, name.get(), row.target == -2 ? target : row.target);
    EXPECT_EQ(row.code, TalvorError());
    std::vector<Request> r = sent();
    EXPECT_EQ(row.sent_codes, codes_of(r));
    if (!r.empty()) expect_request(r[0], 274, 4, texts({"7", "11", "Lines", "31"}));
    if (r.size() > 1) expect_request(r[1], 58, 1, texts({"7"}));
    global_user_level = 2;
    expect_only_probe_after(row.sent_codes.size());
    free_all_slots();
  }
}

class ProgramsTest : public ConnectedTest {};

TEST_F(ProgramsTest, RunProgram) {
  struct Row {
    const char *name;
    const char *program;  // null: a null program
    const char *argument;
    int flag;
    std::vector<Reply> answers;
    std::string program_block;
    std::vector<int> sent_codes;
    std::string result;
    int code;
  } rows[] = {
      {"two lines get a final line feed", "a=1\nb=2", "x", 0, {ok({"done"}), ok()}, "a=1\nb=2\n", {313, 58},
       "done", 0},
      {"a final line feed gets a second one", "a=1\n", "x", 0, {ok({"done"}), ok()}, "a=1\n\n", {313, 58},
       "done", 0},
      {"null program", nullptr, "x", 0, {ok({"done"}), ok()}, "", {313, 58}, "done", 0},
      {"empty program", "", "x", 0, {ok({"done"}), ok()}, "", {313, 58}, "done", 0},
      {"null argument", "p", nullptr, 0, {ok({"done"}), ok()}, "p\n", {313, 58}, "done", 0},
      {"flag 1: no follow-up", "p", "x", 1, {ok({"done"})}, "p\n", {313}, "done", 0},
      {"flag -1: no follow-up", "p", "x", -1, {ok({"done"})}, "p\n", {313}, "done", 0},
      {"result without terminating zero", "p", "x", 1, {reply(8, {"unterminated"})}, "p\n", {313},
       "unterminated", 0},
      {"refused: no follow-up even with flag 0", "p", "x", 0, {reply(9)}, "p\n", {313}, "", 7},
      {"result missing, follow-up still sent", "p", "x", 0, {reply(8, {missing()}), ok()}, "p\n", {313, 58}, "", 6},
      {"follow-up refused keeps the result", "p", "x", 0, {ok({"done"}), reply(9)}, "p\n", {313, 58}, "done",
       7},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    int h = make_entry(7, 11, 3, 1, 4, 2);
    for (const Reply &r : row.answers) server().push(r);
    Text program(row.program ? row.program : ""), argument(row.argument ? row.argument : "");
    char *result = TalvorRunProgram(h, row.program ? program.get() : nullptr,
                                    row.argument ? argument.get() : nullptr, row.flag);
    ASSERT_NE(nullptr, result);
    EXPECT_EQ(row.result, std::string(result));
    free(result);
    EXPECT_EQ(row.code, TalvorError());
    std::vector<Request> r = sent();
    ASSERT_EQ(row.sent_codes, codes_of(r));
    expect_request(r[0], 313, 5,
                   texts({"7", "11", row.program_block, row.argument ? row.argument : "", std::to_string(row.flag)}));
    if (r.size() > 1) expect_request(r[1], 58, 1, texts({"7"}));
    EXPECT_EQ((std::vector<int>{7, 11, 3, 1, 4, 2}), entry_fields(h));
    if (row.program) {
    EXPECT_STREQ(row.program, program.get()) << "the caller's text is left alone";
    }
    free_slot(h);
  }
}

TEST_F(ProgramsTest, RefusedRunsSendNothingAndReturnNewEmptyTexts) {
  struct Row {
    const char *name;
    int level;
    int handle;  // -2: a made entry
    int code;
  } rows[] = {
      {"level 1", 1, -2, 15}, {"level 0", 0, -2, 15}, {"handle 1024", 2, 1024, 12}, {"empty slot", 2, 7, 11},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    global_user_level = row.level;
    int h = make_entry(7, 11, 3);
    Text program("p"), argument("x");
    int handle = row.handle == -2 ? h : row.handle;
    char *a = TalvorRunProgram(handle, program.get(), argument.get(), 0);
    char *b = TalvorRunProgram(handle, program.get(), argument.get(), 0);
    EXPECT_EQ(row.code, TalvorError());
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_STREQ("", a);
    EXPECT_NE(a, b);
    free(a);
    free(b);
    global_user_level = 2;
    expect_nothing_sent();
    free_slot(h);
  }
}

TEST_F(ProgramsTest, EveryResultIsANewAllocation) {
  int h = make_entry(7, 11, 3);
  server().push(ok({"same"}));
  server().push(ok({"same"}));
  Text program("p"), argument("x");
  char *a = TalvorRunProgram(h, program.get(), argument.get(), 1);
  char *b = TalvorRunProgram(h, program.get(), argument.get(), 1);
  EXPECT_STREQ("same", a);
  EXPECT_STREQ("same", b);
  EXPECT_NE(a, b);
  free(a);
  free(b);
}

}  // namespace
}  // namespace opstest
