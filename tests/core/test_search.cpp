// Search, login scrambling and close against the scriptable server.
#include <string>
#include <vector>

#include "protocol.h"
#include "ops_fixture.h"

namespace opstest {
namespace {

// The standard answers of a search that succeeds: application 7, user
// level 1, form 3, set 11, lock state 1.
Reply open_ok() { return reply(43, texts({"7"})); }
Reply login_ok(const std::string &level = "1") { return ok({"welcome", level}); }
Reply form_ok() { return reply(43, texts({"3"})); }
Reply set_ok() { return reply(43, texts({"11"})); }
Reply bind_ok() { return ok(); }
Reply search_ok() { return ok({"250", "1"}); }

std::vector<Reply> standard_replies() {
  return {open_ok(), login_ok(), form_ok(), set_ok(), bind_ok(), search_ok()};
}

// Passwords and the bytes the client sends for them, written out: a change
// of the key or of the way it is applied must show here, not be recomputed
// along with it. The 18-byte one takes the key from its start again.
const std::string secret = "secret";
const std::string secret_scrambled = "\x29\x76\xa4\x5c\xf4\x1f";
const std::string eighteen = "abcdefghijklmnopqr";
const std::string eighteen_scrambled =
    "\x3b\x71\xa4\x4a\xf4\x0d\x5a\x8c\x61\x15\xd9\x2a\xb4\x72\xca\x10\x82"  // key bytes 0..16
    "\x28";                                                                  // key byte 0 again

std::vector<std::string> search_blocks(const std::vector<std::string> &items, const char *form_id = "3",
                                       const char *set_id = "11") {
  std::vector<std::string> blocks = texts({"7", form_id, set_id, "5", "6", "0", "-1", "0"});
  for (const std::string &item : items) blocks.push_back(T(item));
  blocks.push_back(end_marker());
  return blocks;
}

class SearchTest : public ConnectedTest {
 protected:
  void push_all(const std::vector<Reply> &replies) {
    for (const Reply &r : replies) server().push(r);
  }
  int search(const char *search_text, const char *user = "ann", const char *password = "secret") {
    Text app("Orders"), form("Main"), st(search_text ? search_text : ""), u(user ? user : ""),
        pw(password ? password : "");
    return TalvorSearch(app.get(), form.get(), 5, 6, search_text ? st.get() : nullptr, user ? u.get() : nullptr,
                        password ? pw.get() : nullptr);
  }
};

TEST_F(SearchTest, SendsTheSixCommandsAndStoresTheEntryInTheLowestEmptySlot) {
  int taken = make_entry(1, 1, 1);
  ASSERT_EQ(0, taken);
  push_all(standard_replies());

  int h = search("name=abc");

  EXPECT_EQ(1, h);
  EXPECT_EQ(0, TalvorError());
  std::vector<Request> r = sent();
  ASSERT_EQ(6u, r.size());
  expect_request(r[0], 3, 2, texts({"Orders", "0"}));
  expect_request(r[1], 167, 3, texts({"7", "ann", secret_scrambled}));
  expect_request(r[2], 75, 2, texts({"7", "Main"}));
  expect_request(r[3], 109, 1, texts({"7"}));
  expect_request(r[4], 47, 3, texts({"7", "11", "3"}));
  expect_request(r[5], 54, -1, search_blocks({"name=abc"}));
  EXPECT_EQ((std::vector<int>{7, 11, 3, 1, 1, 1}), entry_fields(h));
  EXPECT_EQ(1, global_user_level);
}

TEST_F(SearchTest, SearchTextIsCutIntoItems) {
  struct Row {
    const char *text;
    std::vector<std::string> items;
  } rows[] = {
      {"", {}},
      {"%", {}},
      {"name=abc", {"name=abc"}},
      {"%a%b", {"a", "b"}},
      {"a%b", {"a", "b"}},
      {"x\\%y%z", {"x\\%y", "z"}},
      {"a%%b", {"a", "%b"}},
      {"%%a", {"", "a"}},
      {"a%b%", {"a", "b", ""}},
      {"a%%", {"a", "%"}},
      {"\\%%a", {"\\%", "a"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string("search text [") + row.text + "]");
    server().clear();
    push_all(standard_replies());
    int h = search(row.text);
    ASSERT_EQ(0, h);
    std::vector<Request> r = sent();
    ASSERT_EQ(6u, r.size());
    expect_request(r[5], 54, -1, search_blocks(row.items));
    free_slot(h);
  }
}

TEST_F(SearchTest, EveryItemOfASearchWithMoreThan1024ItemsIsSent) {
  std::string text;
  std::vector<std::string> items;
  for (int i = 0; i < 1500; ++i) {
    items.push_back("f" + std::to_string(i));
    text += (i ? "%" : "") + items.back();
  }
  push_all(standard_replies());
  ASSERT_EQ(0, search(text.c_str()));
  std::vector<Request> r = sent();
  ASSERT_EQ(6u, r.size());
  expect_request(r[5], 54, -1, search_blocks(items));
}

// An item equal to the END_OF_LIST marker would end the search's open list
// early, and the server would take the items after it for a command of their
// own: such a search is refused before anything is sent.
TEST_F(SearchTest, AnItemEqualToTheEndOfListMarkerIsRefusedBeforeAnythingIsSent) {
  const std::string marker = "0?432984_|_END_OF_LIST";
  const std::string injected = std::string(26, '7');
  for (const std::string &text : {marker, "a%" + marker, "a%" + marker + "%" + injected}) {
    SCOPED_TRACE(text);
    server().clear();
    EXPECT_EQ(-1, search(text.c_str()));
    EXPECT_EQ(19, TalvorError());
    EXPECT_EQ(0, used_slots());
    expect_nothing_sent();
  }
  // A text that only contains the marker inside an item is an ordinary item.
  server().clear();
  push_all(standard_replies());
  int h = search(("x" + marker).c_str());
  ASSERT_EQ(0, h);
  std::vector<Request> r = sent();
  ASSERT_EQ(6u, r.size());
  expect_request(r[5], 54, -1, search_blocks({"x" + marker}));
  free_slot(h);
}

TEST_F(SearchTest, NullSearchTextEndsWithCodeZeroAndSendsNothing) {
  global_error = 9;
  EXPECT_EQ(-1, search(nullptr));
  EXPECT_EQ(0, TalvorError());
  EXPECT_EQ(0, used_slots());
  expect_nothing_sent();
}

TEST_F(SearchTest, LoginBlocks) {
  struct Row {
    const char *name;
    const char *user;
    const char *password;
    std::string user_block;
    std::string password_block;
  } rows[] = {
      {"user and password", "ann", secret.c_str(), "ann", secret_scrambled},
      {"18-byte password", "ann", eighteen.c_str(), "ann", eighteen_scrambled},
      {"empty password", "ann", "", "ann", ""},
      {"null password", "ann", nullptr, "", ""},
      {"null user", nullptr, "secret", "", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    push_all(standard_replies());
    int h = search("a", row.user, row.password);
    ASSERT_EQ(0, h);
    std::vector<Request> r = sent();
    ASSERT_GE(r.size(), 2u);
    expect_request(r[1], 167, 3, texts({"7", row.user_block, row.password_block}));
    free_slot(h);
  }
  // The server undoes it with the shared key.
  std::string back = eighteen_scrambled;
  talvor_scramble_bytes((unsigned char *)&back[0], back.size());
  EXPECT_EQ(eighteen, back);
}

TEST_F(SearchTest, MyCryptReturnsANewScrambledCopy) {
  Text pw(eighteen);
  char *a = MyCrypt(pw.get());
  char *b = MyCrypt(pw.get());
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_NE(a, b);
  EXPECT_EQ(eighteen, pw.get()) << "the input is left alone";
  EXPECT_EQ(eighteen_scrambled, std::string(a));
  free(a);
  free(b);
  EXPECT_EQ(nullptr, MyCrypt(nullptr));
}

TEST_F(SearchTest, FailuresEndTheSearchAtTheirStep) {
  struct Row {
    const char *name;
    std::vector<Reply> replies;
    int code;
    std::vector<int> sent_codes;
  } rows[] = {
      {"open answers a negative number", {reply(43, texts({"-4"}))}, 10, {3}},
      {"open answers without its block", {reply(43, {missing()})}, 6, {3}},
      {"open answers 123 with a block", {reply(123, texts({"closed\nfor now"}))}, 0, {3}},
      {"open answers 123 without blocks", {reply(123)}, 0, {3}},
      {"open answers another code", {reply(99)}, 0, {3}},
      {"login refused", {open_ok(), reply(12)}, 9, {3, 167}},
      {"form lookup answers another code", {open_ok(), login_ok(), reply(44)}, 7, {3, 167, 75}},
      {"form lookup without its block", {open_ok(), login_ok(), reply(43, {missing()})}, 6, {3, 167, 75}},
      {"no such form", {open_ok(), login_ok(), reply(43, texts({"-1"}))}, 8, {3, 167, 75}},
      {"set allocation refused", {open_ok(), login_ok(), form_ok(), reply(8)}, 7, {3, 167, 75, 109}},
      {"bind refused", {open_ok(), login_ok(), form_ok(), set_ok(), reply(43)}, 7, {3, 167, 75, 109, 47}},
      {"search refused", {open_ok(), login_ok(), form_ok(), set_ok(), bind_ok(), reply(9)}, 7,
       {3, 167, 75, 109, 47, 54}},
      {"search reply without its first block",
       {open_ok(), login_ok(), form_ok(), set_ok(), bind_ok(), reply(8, {missing()})}, 6,
       {3, 167, 75, 109, 47, 54}},
      {"search reply without the lock state", {open_ok(), login_ok(), form_ok(), set_ok(), bind_ok(), reply(8, {T("250"), missing()})},
       6, {3, 167, 75, 109, 47, 54}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    global_user_level = 2;
    push_all(row.replies);
    EXPECT_EQ(-1, search("a"));
    EXPECT_EQ(row.code, TalvorError());
    EXPECT_EQ(row.sent_codes, codes_of(sent()));
    EXPECT_EQ(0, used_slots());
    EXPECT_EQ(row.code == 9 || row.sent_codes.size() < 2 ? 2 : 1, global_user_level)
        << "a successful login sets the level even when a later step fails";
    expect_only_probe_after(row.sent_codes.size());
  }
}

TEST_F(SearchTest, ToleratedAnswers) {
  struct Row {
    const char *name;
    std::vector<Reply> replies;
    int level_after;
    std::vector<int> entry;  // application, set, form, locked, position, previous
    std::string bind_set;    // the set number that command 47 carries
  } rows[] = {
      {"open answers 144 with a second block, which is dropped",
       {reply(144, texts({"7", "dropped\nblock"})), login_ok(), form_ok(), set_ok(), bind_ok(), search_ok()}, 1,
       {7, 11, 3, 1, 1, 1}, "11"},
      {"open announces a second block that is missing",
       {reply(43, {T("7"), missing()}), login_ok(), form_ok(), set_ok(), bind_ok(), search_ok()}, 1,
       {7, 11, 3, 1, 1, 1}, "11"},
      {"login reply without blocks keeps the level",
       {open_ok(), reply(8, {missing()}), form_ok(), set_ok(), bind_ok(), search_ok()}, 2, {7, 11, 3, 1, 1, 1}, "11"},
      {"login reply without the level keeps the level",
       {open_ok(), reply(8, {T("welcome"), missing()}), form_ok(), set_ok(), bind_ok(), search_ok()}, 2, {7, 11, 3, 1, 1, 1}, "11"},
      {"login reports level 0", {open_ok(), login_ok("0"), form_ok(), set_ok(), bind_ok(), search_ok()}, 0,
       {7, 11, 3, 1, 1, 1}, "11"},
      {"form -2 is a form", {open_ok(), login_ok(), reply(43, texts({"-2"})), set_ok(), bind_ok(), search_ok()}, 1,
       {7, 11, -2, 1, 1, 1}, "11"},
      {"set allocation without its block goes on with set -1",
       {open_ok(), login_ok(), form_ok(), reply(43, {missing()}), bind_ok(), search_ok()}, 1, {7, -1, 3, 1, 1, 1},
       "-1"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    global_user_level = 2;
    push_all(row.replies);
    int h = search("a");
    ASSERT_EQ(0, h);
    EXPECT_EQ(0, TalvorError());
    EXPECT_EQ(row.level_after, global_user_level);
    EXPECT_EQ(row.entry, entry_fields(h));
    std::vector<Request> r = sent();
    ASSERT_EQ(6u, r.size());
    EXPECT_EQ(T(row.bind_set), r[4].blocks.at(1));
    free_slot(h);
    expect_only_probe_after(6);
  }
}

TEST_F(SearchTest, FullTableGivesCode5AfterTheServerRanTheSearch) {
  for (int i = 0; i < result_set_slots; ++i) make_entry(1, i, 1);
  push_all(standard_replies());
  EXPECT_EQ(-1, search("a"));
  EXPECT_EQ(5, TalvorError());
  EXPECT_EQ((std::vector<int>{3, 167, 75, 109, 47, 54}), codes_of(sent()));
  EXPECT_EQ(result_set_slots, used_slots());
}

TEST_F(SearchTest, ClosedHandleIsReusedBySearch) {
  push_all(standard_replies());
  ASSERT_EQ(0, search("a"));
  server().push(ok({"0"}));  // the move back
  server().push(ok());       // 299
  TalvorClose(0);
  ASSERT_EQ(0, TalvorError());
  EXPECT_EQ(nullptr, ResultSet[0]);
  push_all(standard_replies());
  EXPECT_EQ(0, search("b"));
}

class CloseTest : public ConnectedTest {};

TEST_F(CloseTest, MovesBackThenDropsTheSet) {
  struct Row {
    const char *name;
    int previous_position;
    std::vector<Reply> replies;
    int code;
    bool slot_freed;
    std::vector<int> sent_codes;
    std::string move_block;  // position sent by 86
  } rows[] = {
      {"fresh set moves to record 1 first", 1, {ok({"0"}), ok()}, 0, true, {86, 299}, "0"},
      {"moves back to record 3", 3, {ok({"0"}), ok()}, 0, true, {86, 299}, "2"},
      {"without a previous position no move", 0, {ok()}, 0, true, {299}, ""},
      {"close refused keeps the set", 1, {ok({"0"}), reply(9)}, 7, false, {86, 299}, "0"},
      {"failed move stays reported, close goes on", 2, {reply(9), ok()}, 7, true, {86, 299}, "1"},
      {"move without its block stays reported", 2, {reply(8, {missing()}), ok()}, 6, true, {86, 299}, "1"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    server().clear();
    int h = make_entry(7, 11, 3, 0, 4, row.previous_position);
    for (const Reply &r : row.replies) server().push(r);
    TalvorClose(h);
    EXPECT_EQ(row.code, TalvorError());
    EXPECT_EQ(row.slot_freed, ResultSet[h] == nullptr);
    std::vector<Request> r = sent();
    ASSERT_EQ(row.sent_codes, codes_of(r));
    if (row.sent_codes[0] == 86) expect_request(r[0], 86, 3, texts({"7", "11", row.move_block}));
    expect_request(r.back(), 299, 5, texts({"7", "11", "1", "-1", ""}));
    free_slot(h);
  }
}

TEST_F(CloseTest, RefusedHandlesSendNothing) {
  int h = make_entry(7, 11, 3);
  server().push(ok({"0"}));
  server().push(ok());
  TalvorClose(h);
  ASSERT_EQ(0, TalvorError());
  server().clear();

  struct Row {
    int handle;
    int code;
  } rows[] = {{h, 11}, {1024, 12}, {-1, 12}, {5, 11}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.handle);
    TalvorClose(row.handle);
    EXPECT_EQ(row.code, TalvorError());
  }
  expect_nothing_sent();
}

}  // namespace
}  // namespace opstest
