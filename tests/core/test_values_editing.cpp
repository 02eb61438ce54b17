// Field values and record editing.
#include <string>
#include <vector>

#include "ops_fixture.h"

namespace opstest {
namespace {

class ValuesTest : public ConnectedTest {};

TEST_F(ValuesTest, GetValue) {
  struct Row {
    const char *name;
    Reply answer;
    std::string result;
    int code;
  } rows[] = {
      {"value", reply(57, texts({"1", "2", "hello"})), "hello", 0},
      {"ESC marks an absent value", reply(57, texts({"1", "2", "\x1b" "abc"})), "", 0},
      {"only the terminating zero", reply(57, texts({"1", "2", ""})), "", 0},
      {"value without terminating zero", reply(57, {T("1"), T("2"), "abc"}), "abc", 0},
      {"a number block missing, value kept", reply(57, {missing(), T("2"), T("v")}), "v", 6},
      {"second number block missing", reply(57, {T("1"), missing(), T("v")}), "v", 6},
      {"value missing", reply(57, {T("1"), T("2"), missing()}), "", 6},
      {"reply 8 instead of 57", reply(8), "", 7},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    int h = make_entry(7, 11, 3, 1, 4, 2);
    server().push(row.answer);
    Text field("Price");
    char *value = TalvorGetValue(h, field.get());
    ASSERT_NE(nullptr, value);
    EXPECT_EQ(row.result, std::string(value));
    free(value);
    EXPECT_EQ(row.code, TalvorError());
    std::vector<Request> r = sent();
    ASSERT_EQ(1u, r.size());
    expect_request(r[0], 56, 4, texts({"7", "11", "0", "Price"}));
    EXPECT_EQ((std::vector<int>{7, 11, 3, 1, 4, 2}), entry_fields(h));
    free_slot(h);
    expect_only_probe_after(1);
  }
}

TEST_F(ValuesTest, GetValueWorksAtEveryLevelAndReturnsANewTextEachTime) {
  int h = make_entry(7, 11, 3);
  Text field("Price");
  for (int level = 0; level <= 2; ++level) {
    SCOPED_TRACE(level);
    global_user_level = level;
    server().push(reply(57, texts({"1", "2", "9.50"})));
    server().push(reply(57, texts({"1", "2", "9.50"})));
    char *a = TalvorGetValue(h, field.get());
    char *b = TalvorGetValue(h, field.get());
    EXPECT_EQ(0, TalvorError());
    EXPECT_STREQ("9.50", a);
    EXPECT_STREQ("9.50", b);
    EXPECT_NE(a, b);
    free(a);
    free(b);
  }
  // Empty texts of failures are new allocations too.
  char *a = TalvorGetValue(1024, field.get());
  char *b = TalvorGetValue(1024, field.get());
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_NE(a, b);
  EXPECT_STREQ("", a);
  EXPECT_EQ(12, TalvorError());
  free(a);
  free(b);
}

TEST_F(ValuesTest, SetValueTrimsInPlaceThenSendsAndFollowsUp) {
  struct Row {
    const char *name;
    const char *value;  // null: a null value
    std::string sent_value;
    std::string caller_text_after;
  } rows[] = {
      {"blanks around", "  abc  ", "abc", "abc"},
      {"leading line feed and carriage return", "\n\r x y ", "x y", "x y"},
      {"plain", "abc", "abc", "abc"},
      {"empty", "", "", ""},
      {"null", nullptr, "", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    int h = make_entry(7, 11, 3);
    server().push(ok());
    server().push(ok());
    Text field("Name"), value(row.value ? row.value : "");
    TalvorSetValue(h, field.get(), row.value ? value.get() : nullptr);
    EXPECT_EQ(0, TalvorError());
    if (row.value) {
    EXPECT_EQ(row.caller_text_after, std::string(value.get()));
    }
    std::vector<Request> r = sent();
    ASSERT_EQ(2u, r.size());
    std::vector<std::string> blocks = texts({"1", "7", "11", "Name", row.sent_value});
    blocks.push_back(end_marker());
    expect_request(r[0], 48, -1, blocks);
    expect_request(r[1], 58, 1, texts({"7"}));
    free_slot(h);
  }
}

TEST_F(ValuesTest, SetValueFailures) {
  struct Row {
    const char *name;
    int level;
    std::vector<Reply> answers;
    int code;
    std::vector<int> sent_codes;
  } rows[] = {
      {"level 1 is enough", 1, {ok(), ok()}, 0, {48, 58}},
      {"level 0 refused", 0, {}, 15, {}},
      {"set refused: no follow-up", 2, {reply(9)}, 7, {48}},
      {"follow-up refused", 2, {ok(), reply(9)}, 7, {48, 58}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    global_user_level = row.level;
    int h = make_entry(7, 11, 3);
    for (const Reply &r : row.answers) server().push(r);
    Text field("Name"), value("  v  ");
    TalvorSetValue(h, field.get(), value.get());
    EXPECT_EQ(row.code, TalvorError());
    EXPECT_EQ(row.sent_codes, codes_of(sent()));
    if (row.code == 15) {
    EXPECT_STREQ("  v  ", value.get()) << "a refused call leaves the text alone";
    }
    expect_only_probe_after(row.sent_codes.size());
    free_slot(h);
  }
}

// The field and the value travel in an open list that a text equal to the
// END_OF_LIST marker would end early: refused with nothing sent, and the next
// call finds the streams in step.
TEST_F(ValuesTest, SetValueRefusesTheEndOfListMarker) {
  const std::string marker = "0?432984_|_END_OF_LIST";
  struct Row {
    const char *name;
    std::string field, value;
  } rows[] = {
      {"marker as value", "Name", marker},
      {"marker as value once trimmed", "Name", "  " + marker + " "},
      {"marker as field", marker, "v"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    int h = make_entry(7, 11, 3);
    Text field(row.field.c_str()), value(row.value.c_str());
    TalvorSetValue(h, field.get(), value.get());
    EXPECT_EQ(19, TalvorError());
    expect_nothing_sent();
    server().clear();
    server().push(ok());
    server().push(ok());
    Text plain_field("Name"), plain_value("v");
    TalvorSetValue(h, plain_field.get(), plain_value.get());
    EXPECT_EQ(0, TalvorError());
    EXPECT_EQ((std::vector<int>{48, 58}), codes_of(sent()));
    free_slot(h);
  }
}

class EditingTest : public ConnectedTest {};

TEST_F(EditingTest, UserLevelsDecideWhatIsSent) {
  enum Op { create, remove, del };
  struct Row {
    int level;
    Op op;
    bool sent;
  } rows[] = {
      {0, create, false}, {0, remove, true}, {0, del, false},  //
      {1, create, true},  {1, remove, true}, {1, del, false},  //
      {2, create, true},  {2, remove, true}, {2, del, true},
  };
  const int command[] = {272, 78, 40};
  for (const Row &row : rows) {
    SCOPED_TRACE("level " + std::to_string(row.level) + " command " + std::to_string(command[row.op]));
    server().clear();
    global_user_level = row.level;
    int h = make_entry(7, 11, 3);
    if (row.sent) {
      server().push(row.op == del ? ok({"0", "0"}) : ok());
      if (row.op == create) server().push(ok());  // the follow-up
    }
    if (row.op == create) TalvorCreateNewRecord(h);
    if (row.op == remove) TalvorRemoveRecord(h);
    if (row.op == del) TalvorDeleteRecord(h);
    if (row.sent) {
      EXPECT_EQ(0, TalvorError());
      std::vector<Request> r = sent();
      ASSERT_FALSE(r.empty());
      EXPECT_EQ(command[row.op], r[0].code);
    } else {
      EXPECT_EQ(15, TalvorError());
      expect_nothing_sent();
    }
    free_slot(h);
  }
}

TEST_F(EditingTest, CreateNewRecord) {
  struct Row {
    const char *name;
    std::vector<Reply> answers;
    int code;
    std::vector<int> sent_codes;
  } rows[] = {
      {"created and followed up", {ok(), ok()}, 0, {272, 58}},
      {"refused: no follow-up", {reply(9)}, 7, {272}},
      {"follow-up refused", {ok(), reply(43)}, 7, {272, 58}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    int h = make_entry(7, 11, 3, 1, 4, 2);
    for (const Reply &r : row.answers) server().push(r);
    TalvorCreateNewRecord(h);
    EXPECT_EQ(row.code, TalvorError());
    std::vector<Request> r = sent();
    ASSERT_EQ(row.sent_codes, codes_of(r));
    expect_request(r[0], 272, 3, texts({"7", "11", "3"}));
    if (r.size() > 1) expect_request(r[1], 58, 1, texts({"7"}));
    EXPECT_EQ((std::vector<int>{7, 11, 3, 1, 4, 2}), entry_fields(h));
    free_slot(h);
  }
}

TEST_F(EditingTest, RemoveRecord) {
  struct Row {
    const char *name;
    Reply answer;
    int code;
  } rows[] = {{"removed", ok(), 0}, {"refused", reply(9), 7}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    int h = make_entry(7, 11, 3, 1, 4, 2);
    server().push(row.answer);
    TalvorRemoveRecord(h);
    EXPECT_EQ(row.code, TalvorError());
    std::vector<Request> r = sent();
    ASSERT_EQ(1u, r.size());
    expect_request(r[0], 78, 2, texts({"7", "11"}));
    EXPECT_EQ((std::vector<int>{7, 11, 3, 1, 4, 2}), entry_fields(h));
    free_slot(h);
  }
}

TEST_F(EditingTest, DeleteRecordStoresTheLockState) {
  struct Row {
    const char *name;
    Reply answer;
    int code;
    int locked_after;
  } rows[] = {
      {"deleted, next record locked", ok({"0", "1"}), 0, 1},
      {"deleted, next record free", ok({"0", "0"}), 0, 0},
      {"lock state missing", reply(8, {T("0"), missing()}), 6, 5},
      {"number block missing", reply(8, {missing()}), 6, 5},
      {"refused", reply(9), 7, 5},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    int h = make_entry(7, 11, 3, 5, 4, 2);
    server().push(row.answer);
    TalvorDeleteRecord(h);
    EXPECT_EQ(row.code, TalvorError());
    std::vector<Request> r = sent();
    ASSERT_EQ(1u, r.size());
    expect_request(r[0], 40, 2, texts({"7", "11"}));
    EXPECT_EQ((std::vector<int>{7, 11, 3, row.locked_after, 4, 2}), entry_fields(h));
    EXPECT_EQ(row.locked_after, TalvorLocked(h));
    free_slot(h);
  }
}

}  // namespace
}  // namespace opstest
