// Parsing of search and sort items, and the password digest.
#include <gtest/gtest.h>

#include "search_items.h"
#include "sha256.h"

namespace {

TEST(SearchItems, ParseFieldOperatorAndValue) {
  struct item_case {
    const char *text;
    const char *field;
    search_op op;
    const char *value;
    bool pattern;
    const char *glob;
  } cases[] = {
      {"name=abc", "name", op_eq, "abc", false, ""},
      {"name<>abc", "name", op_ne, "abc", false, ""},
      {"name!=abc", "name", op_ne, "abc", false, ""},
      {"qty<5", "qty", op_lt, "5", false, ""},
      {"qty>5", "qty", op_gt, "5", false, ""},
      {"qty<=5", "qty", op_le, "5", false, ""},
      {"qty>=5", "qty", op_ge, "5", false, ""},
      {"  name  =  a b  ", "name", op_eq, "a b", false, ""},
      {"name=", "name", op_eq, "", false, ""},
      {"name==x", "name", op_eq, "=x", false, ""},
      {"name=a*", "name", op_eq, "a*", true, "a*"},
      {"name<>?b", "name", op_ne, "?b", true, "?b"},
      {"name=a\\*", "name", op_eq, "a*", false, ""},
      {"name=a\\**", "name", op_eq, "a**", true, "a[*]*"},
      {"name=[x]*", "name", op_eq, "[x]*", true, "[[]x]*"},
      {"name=50\\% off", "name", op_eq, "50% off", false, ""},
      {"name=a\\\\b", "name", op_eq, "a\\b", false, ""},
      {"name=ab\\ ", "name", op_eq, "ab ", false, ""},
      {"qty<a*", "qty", op_lt, "a*", false, ""},  // wildcards only with = and <>
  };
  for (const item_case &c : cases) {
    SCOPED_TRACE(c.text);
    search_condition cond;
    ASSERT_EQ(parse_search_item(c.text, &cond), item_ok);
    EXPECT_EQ(cond.field, c.field);
    EXPECT_EQ(cond.op, c.op);
    EXPECT_EQ(cond.value, c.value);
    EXPECT_EQ(cond.is_pattern, c.pattern);
    if (c.pattern) {
      EXPECT_EQ(cond.pattern, c.glob);
    }
  }
}

TEST(SearchItems, BlankAndUnusableItems) {
  search_condition cond;
  for (const char *blank : {"", "   ", "\t\r\n"}) EXPECT_EQ(parse_search_item(blank, &cond), item_empty);
  for (const char *bad : {"name", "=x", "  <5", "name!x", "name=abc\\", "!"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(parse_search_item(bad, &cond), item_invalid);
  }
}

TEST(SortItems, FieldAndDirectionAsTheClientReadsThem) {
  struct sort_case {
    const char *text;
    int ok;
    const char *field;
    bool descending;
  } cases[] = {
      {"NAME:1", 1, "NAME", false},    {"NAME:-1", 1, "NAME", true},
      {"NAME: 1", 1, "NAME", false},   {"NAME:+1", 1, "NAME", false},
      {"NAME:1x", 1, "NAME", false},   {"NAME:1:2", 1, "NAME", false},
      {" NAME :-1", 1, "NAME", true},  {"NAME:0", 0, "", false},
      {"NAME:2", 0, "", false},        {"NAME", 0, "", false},
      {":1", 0, "", false},            {"NAME:", 0, "", false},
      {"NAME:10", 0, "", false},       {"NAME:-1000000000001", 0, "", false},
  };
  for (const sort_case &c : cases) {
    SCOPED_TRACE(c.text);
    sort_key k;
    ASSERT_EQ(parse_sort_item(c.text, &k), c.ok);
    if (c.ok) {
      EXPECT_EQ(k.field, c.field);
      EXPECT_EQ(k.descending, c.descending);
    }
  }
}

TEST(Sha256, KnownDigests) {
  struct digest_case {
    std::string message;
    const char *hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const digest_case &c : cases) {
    SCOPED_TRACE(c.message.substr(0, 20));
    EXPECT_EQ(sha256_hex(c.message.data(), c.message.size()), c.hex);
  }
}

}  // namespace
