// Tests of the string list: splitting, joining, editing by position, search,
// set operations, filtering, sorting, the comparators and trimming.
#include "stringarray.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Stands for a missing (null) entry in the tables below.
const char *const kMissing = "<missing>";
// Stands for a null result of Depopulate.
const char *const kNull = "<null>";

using Entries = std::vector<std::string>;

char *C(const char *s) { return const_cast<char *>(s); }

// Builds a list holding exactly the given entries (kMissing gives a null entry).
std::unique_ptr<StringArray> MakeList(const Entries &entries) {
  auto list = std::make_unique<StringArray>();
  for (const auto &e : entries) list->Append(C(e == kMissing ? "" : e.c_str()));
  for (size_t i = 0; i < entries.size(); i++) {
    if (entries[i] == kMissing) {
      free(list->entries[i]);
      list->entries[i] = nullptr;
    }
  }
  return list;
}

Entries EntriesOf(const StringArray &list) {
  Entries out;
  for (int i = 0; i < list.entry_count; i++)
    out.push_back(list.entries[i] ? std::string(list.entries[i]) : std::string(kMissing));
  return out;
}

// Takes ownership of a returned heap string.
std::string Take(char *s) {
  if (!s) return kNull;
  std::string out(s);
  free(s);
  return out;
}

// Saves the default separator and puts it back after each test.
class StringArraySeparator : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = global_string_array_separator; }
  void TearDown() override { global_string_array_separator = saved_; }
  char saved_ = ';';
};

TEST(StringArrayGlobals, SeparatorsStartAsSemicolon) {
  EXPECT_EQ(global_string_array_separator, ';');
  EXPECT_EQ(global_old_string_array_separator, ';');
}

struct SplitCase {
  const char *text;
  const char *sep;  // null: built without a separator
  Entries expected;
};

TEST(StringArraySplit, ConstructorSplitsOnSeparator) {
  const SplitCase cases[] = {
      {"a;b;;c", nullptr, {"a", "b", "", "c"}},
      {"a,b", ",", {"a", "b"}},
      {"a,b", nullptr, {"a,b"}},
      {"a;", nullptr, {"a", ""}},
      {";", nullptr, {"", ""}},
      {";;", nullptr, {"", "", ""}},
      {" a ; b ", nullptr, {" a ", " b "}},
      {"x", nullptr, {"x"}},
      {"a,b|c", ",|", {"a", "b|c"}},  // only the first character counts
      {"a;b,c", "", {"a;b,c"}},        // an empty separator text never splits
      {"", nullptr, {}},
      {nullptr, nullptr, {}},
      {"", ",", {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string("text=") + (c.text ? c.text : "(null)") +
                 " sep=" + (c.sep ? c.sep : "(null)"));
    StringArray list(C(c.text), C(c.sep));
    EXPECT_EQ(EntriesOf(list), c.expected);
    EXPECT_EQ(list.Count(), static_cast<int>(c.expected.size()));
    if (c.expected.empty()) {
      EXPECT_EQ(list.entries, nullptr);
    }
  }
}

TEST(StringArraySplit, SeparatorFieldsFollowConstructorArgument) {
  StringArray none(C("a"));
  EXPECT_EQ(none.separator, ';');
  EXPECT_EQ(none.separator_fixed, 0);
  StringArray comma(C("a"), C(","));
  EXPECT_EQ(comma.separator, ',');
  EXPECT_EQ(comma.separator_fixed, 1);
  StringArray empty(C("a"), C(""));
  EXPECT_EQ(empty.separator, '\0');
  EXPECT_EQ(empty.separator_fixed, 1);
}

struct JoinCase {
  Entries entries;
  const char *sep;
  const char *joined;  // kNull for a null result
};

TEST(StringArrayDepopulate, JoinsPresentEntries) {
  const JoinCase cases[] = {
      {{"a", "b", "", "c"}, nullptr, "a;b;;c"},
      {{"a", ""}, nullptr, "a;"},
      {{"", ""}, nullptr, ";"},
      {{"x"}, nullptr, "x"},
      {{""}, nullptr, ""},
      {{"a", "b", "c"}, ",", "a,b,c"},
      // A missing entry adds neither text nor separator.
      {{"a", kMissing, "c"}, nullptr, "a;c"},
      {{"a", "b", kMissing}, nullptr, "a;b;"},
      {{kMissing}, nullptr, ""},
      {{}, nullptr, kNull},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.joined);
    auto list = MakeList(c.entries);
    if (c.sep) {
      list->separator = c.sep[0];
      list->separator_fixed = 1;
    }
    EXPECT_EQ(Take(list->Depopulate()), c.joined);
  }
}

TEST(StringArrayDepopulate, RoundTripsThroughConstructor) {
  const char *texts[] = {"a;b;;c", "a;", ";", ";;x;", " a ; b ", "single"};
  for (const char *t : texts) {
    SCOPED_TRACE(t);
    StringArray list(C(t));
    EXPECT_EQ(Take(list.Depopulate()), t);
  }
}

TEST(StringArrayPopulate, NullOrEmptyLeavesNoArray) {
  for (const char *t : {static_cast<const char *>(nullptr), ""}) {
    StringArray list(C("a;b"));
    EXPECT_EQ(list.Populate(C(t)), 0);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.entries, nullptr);
    EXPECT_EQ(list.Depopulate(), nullptr);
    EXPECT_EQ(list.StringLength(), 0);
  }
}

TEST(StringArrayPopulate, ReplacesContentAndReturnsCount) {
  StringArray list(C("a;b;c"));
  EXPECT_EQ(list.Populate(C("x;;y;z")), 4);
  EXPECT_EQ(EntriesOf(list), (Entries{"x", "", "y", "z"}));
}

TEST(StringArrayPopulate, AcceptsItsOwnEntryAsText) {
  StringArray list(C("a;b"));
  // The text is an entry that Populate frees: it must be read before that.
  list.Replace(C("p;q"), 2);
  EXPECT_EQ(list.Populate(list.entries[1]), 2);
  EXPECT_EQ(EntriesOf(list), (Entries{"p", "q"}));
}

TEST(StringArrayAppend, AddsPiecesAtTheEnd) {
  struct Case {
    Entries start;
    const char *text;
    Entries expected;
  };
  const Case cases[] = {
      {{"a"}, "", {"a", ""}},
      {{}, "", {""}},
      {{"a"}, nullptr, {"a"}},
      {{"a"}, "b;c", {"a", "b", "c"}},
      {{}, "x;", {"x", ""}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    auto list = MakeList(c.start);
    list->Append(C(c.text));
    EXPECT_EQ(EntriesOf(*list), c.expected);
  }
}

TEST(StringArrayDelete, RemovesByPosition) {
  struct Case {
    Entries start;
    int position;
    Entries expected;
  };
  const Case cases[] = {
      {{"a", "b", "c"}, 1, {"b", "c"}},
      {{"a", "b", "c"}, 2, {"a", "c"}},
      {{"a", "b", "c"}, 3, {"a", "b"}},
      {{"a", "b", "c"}, 0, {"a", "b", "c"}},
      {{"a", "b", "c"}, 4, {"a", "b", "c"}},
      {{"a", "b", "c"}, -1, {"a", "b", "c"}},
      {{"a", kMissing, "c"}, 2, {"a", "c"}},
      {{}, 1, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.position);
    auto list = MakeList(c.start);
    list->Delete(c.position);
    EXPECT_EQ(EntriesOf(*list), c.expected);
  }
}

TEST(StringArrayDelete, OnlyEntryLeavesEmptyListWithArray) {
  StringArray list(C("a"));
  list.Delete(1);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_NE(list.entries, nullptr);
  EXPECT_EQ(Take(list.Depopulate()), "");
  EXPECT_EQ(Take(list.Access(1)), "");
  // The list still grows normally afterwards.
  list.Append(C("b;c"));
  EXPECT_EQ(EntriesOf(list), (Entries{"b", "c"}));
}

TEST(StringArrayAccess, GivesNewCopyOrEmptyText) {
  auto list = MakeList({"a", kMissing, "c"});
  struct Case {
    int position;
    const char *expected;
  };
  const Case cases[] = {{1, "a"}, {2, ""}, {3, "c"}, {0, ""}, {4, ""}, {-7, ""}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.position);
    char *got = list->Access(c.position);
    ASSERT_NE(got, nullptr);
    EXPECT_STREQ(got, c.expected);
    if (c.position >= 1 && c.position <= 3) {
      EXPECT_NE(got, list->entries[c.position - 1]);
    }
    free(got);
  }
  StringArray empty;
  EXPECT_EQ(Take(empty.Access(1)), "");
}

TEST(StringArrayReplace, StoresUnsplitCopyInRange) {
  struct Case {
    const char *text;
    int position;
    Entries expected;
  };
  const Case cases[] = {
      {"x", 2, {"a", "x", "c"}},
      {"x;y", 1, {"x;y", "b", "c"}},
      {"x", 0, {"a", "b", "c"}},
      {"x", 4, {"a", "b", "c"}},
      {nullptr, 1, {"a", "b", "c"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.position);
    auto list = MakeList({"a", "b", "c"});
    list->Replace(C(c.text), c.position);
    EXPECT_EQ(EntriesOf(*list), c.expected);
  }
  auto list = MakeList({"a", kMissing});
  list->Replace(C("z"), 2);
  EXPECT_EQ(EntriesOf(*list), (Entries{"a", "z"}));
}

TEST(StringArrayInsert, InsertsPiecesBeforePosition) {
  struct Case {
    Entries start;
    int position;
    const char *text;
    Entries expected;
  };
  const Case cases[] = {
      {{"a"}, 1, "x;y", {"x", "y", "a"}},
      {{"a"}, 2, "x;y", {"a"}},  // not behind the last entry
      {{"a"}, 0, "x", {"a"}},
      {{"a"}, 1, nullptr, {"a"}},
      {{"a"}, 1, "", {"a"}},  // an empty text has no pieces
      {{"a", "b", "c"}, 2, "x", {"a", "x", "b", "c"}},
      {{"a", "b", "c"}, 3, "x;;y", {"a", "b", "x", "", "y", "c"}},
      {{}, 1, "x", {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.position) + " " + (c.text ? c.text : "(null)"));
    auto list = MakeList(c.start);
    list->Insert(c.position, C(c.text));
    EXPECT_EQ(EntriesOf(*list), c.expected);
  }
}

TEST(StringArrayFind, MatchesIgnoringCaseWithSkip) {
  struct Case {
    Entries entries;
    const char *text;
    int skip;
    int expected;
  };
  const Case cases[] = {
      {{"a", "b"}, "B", -1, 2},
      {{"a", "b"}, "B", 2, -1},
      {{"a", "b"}, "a", 1, -1},
      {{"a", "b", "A"}, "a", 1, 3},
      {{"a", "b"}, "c", -1, -1},
      {{"a", "b"}, "", -1, -1},
      {{"a", "", "b", ""}, "", -1, 2},
      {{"a", "", "b", ""}, "", 2, 4},
      {{"a", "b"}, nullptr, -1, -1},
      {{}, "a", -1, -1},
      {{kMissing, "b"}, "b", -1, 2},
      {{kMissing, "b"}, "", -1, -1},  // a missing entry is not an empty one
      {{"ab"}, "a", -1, -1},          // whole entries only
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.text ? c.text : "(null)") + " skip " + std::to_string(c.skip));
    auto list = MakeList(c.entries);
    EXPECT_EQ(list->Find(C(c.text), c.skip), c.expected);
  }
}

TEST(StringArrayStringLength, SumsPresentEntries) {
  EXPECT_EQ(MakeList({"ab", "", "c"})->StringLength(), 3);
  EXPECT_EQ(MakeList({"ab", kMissing, "cde"})->StringLength(), 5);
  EXPECT_EQ(MakeList({})->StringLength(), 0);
}

TEST(StringArraySort, OrdersNumericallyOrAlphabetically) {
  struct Case {
    Entries start;
    int numeric;
    Entries expected;
  };
  const Case cases[] = {
      {{"10", "9", "x"}, 1, {"x", "9", "10"}},
      {{"5", kMissing, "-3", "abc"}, 1, {kMissing, "-3", "abc", "5"}},
      {{" 7", "+2", "3x"}, 1, {"+2", "3x", " 7"}},
      // Values beyond int keep their order instead of wrapping around.
      {{"3000000000", "1", "-3000000000"}, 1, {"-3000000000", "1", "3000000000"}},
      {{"b", "A", "c"}, 0, {"A", "b", "c"}},
      {{"b", kMissing, "a"}, 0, {kMissing, "a", "b"}},
      {{"10", "9"}, 0, {"10", "9"}},
      {{"z"}, 0, {"z"}},
      {{}, 1, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.start));
    auto list = MakeList(c.start);
    list->Sort(c.numeric);
    EXPECT_EQ(EntriesOf(*list), c.expected);
  }
}

TEST(StringArrayComparators, OrderAndMissingEntries) {
  struct Case {
    const char *a;  // null: missing entry
    const char *b;
    int sign_num;
    int sign_alpha;
  };
  const Case cases[] = {
      {"10", "9", 1, -1},   {"9", "10", -1, 1},   {"x", "0", 0, 1},
      {"a", "A", 0, 0},     {nullptr, "x", -1, -1}, {"x", nullptr, 1, 1},
      {nullptr, nullptr, 0, 0},
  };
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.a ? c.a : "(missing)") + " vs " + (c.b ? c.b : "(missing)"));
    const char *a = c.a, *b = c.b;
    int num = qsort_numcmp(&a, &b);
    EXPECT_EQ(num, c.sign_num);  // exactly -1, 0 or 1
    EXPECT_EQ(sign(qsort_stricmp(&a, &b)), c.sign_alpha);
  }
}

TEST(StringArrayReverse, ReversesInPlace) {
  const std::pair<Entries, Entries> cases[] = {
      {{"a", "b", "c"}, {"c", "b", "a"}},
      {{"a", kMissing}, {kMissing, "a"}},
      {{"a"}, {"a"}},
      {{}, {}},
  };
  for (const auto &c : cases) {
    auto list = MakeList(c.first);
    list->Reverse();
    EXPECT_EQ(EntriesOf(*list), c.second);
  }
}

TEST(StringArrayUnique, KeepsFirstOfEachGroup) {
  const std::pair<Entries, Entries> cases[] = {
      {{"a", "A", "b", "a"}, {"a", "b"}},
      {{"a", "b", "c"}, {"a", "b", "c"}},
      {{"x", "X", "x"}, {"x"}},
      {{"", "a", "", ""}, {"", "a"}},
      {{"b", "a", "B", "A"}, {"b", "a"}},
      {{"a", kMissing, "A", kMissing}, {"a", kMissing, kMissing}},
      {{}, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.first));
    auto list = MakeList(c.first);
    list->Unique();
    EXPECT_EQ(EntriesOf(*list), c.second);
  }
}

struct SetCase {
  Entries mine;
  Entries other;
  Entries expected;
};

TEST(StringArrayUnion, AppendsEntriesNotYetHeld) {
  const SetCase cases[] = {
      {{"a", "b"}, {"B", "c", "C"}, {"a", "b", "c"}},
      {{}, {"a", "b"}, {"a", "b"}},
      {{"a"}, {}, {"a"}},
      {{"a"}, {kMissing, "d"}, {"a", "d"}},
      {{"a"}, {""}, {"a", ""}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.other));
    auto mine = MakeList(c.mine);
    auto other = MakeList(c.other);
    mine->Union(other.get());
    EXPECT_EQ(EntriesOf(*mine), c.expected);
    EXPECT_EQ(EntriesOf(*other), c.other);
  }
  auto self = MakeList({"a", "b"});
  self->Union(self.get());
  EXPECT_EQ(EntriesOf(*self), (Entries{"a", "b"}));
}

TEST(StringArrayDifference, RemovesOnceForEachOtherEntry) {
  const SetCase cases[] = {
      {{"a", "a"}, {"a"}, {"a"}},
      {{"a", "b", "c"}, {"C", "x"}, {"a", "b"}},
      {{"a", "b"}, {"a", "a"}, {"b"}},
      {{"a", "b"}, {kMissing, "b"}, {"a"}},
      {{"a"}, {"a"}, {}},
      {{}, {"a"}, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.mine) + " - " + ::testing::PrintToString(c.other));
    auto mine = MakeList(c.mine);
    auto other = MakeList(c.other);
    mine->Difference(other.get());
    EXPECT_EQ(EntriesOf(*mine), c.expected);
  }
}

TEST(StringArrayCompare, CountsPositionsFoundInOther) {
  struct Case {
    Entries mine;
    Entries other;
    int expected;
  };
  const Case cases[] = {
      {{"a", "b", "c"}, {"C", "x"}, 1},
      {{"a", "a"}, {"A"}, 2},
      {{"a", kMissing}, {"x", ""}, 1},  // a missing entry counts as empty text
      {{"a", kMissing}, {"a"}, 1},
      {{}, {"a"}, 0},
      {{"a"}, {}, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.mine) + " vs " + ::testing::PrintToString(c.other));
    auto mine = MakeList(c.mine);
    auto other = MakeList(c.other);
    EXPECT_EQ(mine->Compare(other.get()), c.expected);
  }
}

struct FilterCase {
  Entries start;
  const char *patterns;
  Entries expected;
};

TEST(StringArrayContainsAny, KeepsMatchesOrderedByPattern) {
  const FilterCase cases[] = {
      {{"xa", "yb", "zab"}, "b;a", {"yb", "zab", "xa"}},
      {{"xa", "yb", "zab"}, "a;b", {"xa", "zab", "yb"}},
      {{"xa", "yb", "zab"}, "Z", {"zab"}},
      {{"xa", "yb", "zab"}, "q", {}},
      {{"xa", "yb", "zab"}, "", {}},  // no patterns: nothing matches
      {{"xa", "yb", "zab"}, nullptr, {"xa", "yb", "zab"}},
      {{"a", "", "b"}, ";a", {"", "a"}},  // an empty pattern matches an empty entry
      {{"ab"}, "abc", {}},
      {{"xAbx"}, "aB", {"xAbx"}},
      {{"a", kMissing, "ba"}, "a", {"a", "ba"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.patterns ? c.patterns : "(null)");
    auto list = MakeList(c.start);
    list->ContainsAny(C(c.patterns));
    EXPECT_EQ(EntriesOf(*list), c.expected);
  }
  StringArray empty;
  empty.ContainsAny(C("a"));
  EXPECT_EQ(empty.Depopulate(), nullptr);
}

TEST(StringArrayContainsAll, KeepsEntriesMatchingEveryPatternInListOrder) {
  const FilterCase cases[] = {
      {{"xa", "yb", "zab"}, "a;b", {"zab"}},
      {{"xa", "yb", "zab"}, "b;a", {"zab"}},
      {{"xa", "yb", "zab"}, "a", {"xa", "zab"}},
      {{"zab", "xa", "yba"}, "A", {"zab", "xa", "yba"}},
      {{"xa", "yb", "zab"}, "q", {}},
      {{"xa", "yb", "zab"}, "", {"xa", "yb", "zab"}},  // no patterns: no filter
      {{"xa", "yb", "zab"}, nullptr, {"xa", "yb", "zab"}},
      {{"a", "", "b"}, ";", {""}},
      {{"a", kMissing, "ab"}, "a", {"a", "ab"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.patterns ? c.patterns : "(null)");
    auto list = MakeList(c.start);
    list->ContainsAll(C(c.patterns));
    EXPECT_EQ(EntriesOf(*list), c.expected);
  }
}

TEST(StripSpaces, TrimsLeadingBlanksAndTrailingSpaces) {
  struct Case {
    const char *in;
    const char *out;
  };
  const Case cases[] = {
      {"  \r\n x y  ", "x y"},
      {"x \n", "x \n"},  // only spaces are cut at the end
      {"   ", ""},
      {"\r\n", ""},
      {"\n   ", ""},
      {"", ""},
      {"  x", "x"},
      {"x  ", "x"},
      {"x", "x"},
      {"\tx\t", "\tx\t"},
      {" \r\nx \n  ", "x \n"},
      {" a b ", "a b"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.in)));
    std::vector<char> buf(c.in, c.in + strlen(c.in) + 1);
    strip_leading_trailing_spaces(buf.data());
    EXPECT_STREQ(buf.data(), c.out);
  }
  strip_leading_trailing_spaces(nullptr);  // must not crash
}

TEST_F(StringArraySeparator, ConstructorTakesDefaultWhenNoneGiven) {
  global_string_array_separator = ',';
  StringArray list(C("a,b;c"));
  EXPECT_EQ(list.separator, ',');
  EXPECT_EQ(EntriesOf(list), (Entries{"a", "b;c"}));
  global_string_array_separator = '\0';
  StringArray fallback(C("a;b"));
  EXPECT_EQ(fallback.separator, ';');
  EXPECT_EQ(EntriesOf(fallback), (Entries{"a", "b"}));
}

TEST_F(StringArraySeparator, UnfixedListFollowsChangedDefault) {
  StringArray list(C("a;b"));
  global_string_array_separator = ',';
  EXPECT_EQ(Take(list.Depopulate()), "a,b");
  list.Append(C("c,d"));
  EXPECT_EQ(EntriesOf(list), (Entries{"a", "b", "c", "d"}));
  EXPECT_EQ(list.Populate(C("x,y;z")), 2);
  EXPECT_EQ(EntriesOf(list), (Entries{"x", "y;z"}));
  // A NUL default leaves the list's current separator in place.
  global_string_array_separator = '\0';
  EXPECT_EQ(Take(list.Depopulate()), "x,y;z");
  EXPECT_EQ(list.separator, ',');
}

TEST_F(StringArraySeparator, FixedListIgnoresChangedDefault) {
  StringArray list(C("a|b"), C("|"));
  global_string_array_separator = ',';
  EXPECT_EQ(Take(list.Depopulate()), "a|b");
  list.Append(C("c,d|e"));
  EXPECT_EQ(EntriesOf(list), (Entries{"a", "b", "c,d", "e"}));
  EXPECT_EQ(list.separator, '|');
}

TEST_F(StringArraySeparator, PatternsSplitOnDefaultNotOnFixedSeparator) {
  struct Case {
    char global;
    const char *text;
    Entries insert1;     // after Insert(1, text) on a,b
    Entries any;         // after ContainsAny(text) on xa,yb,zab
    Entries all;         // after ContainsAll(text) on xa,yb,zab
  };
  const Case cases[] = {
      {';', "x;y", {"x", "y", "a", "b"}, {"xa", "yb"}, {}},
      {';', "b;a", {"b", "a", "a", "b"}, {"yb", "zab", "xa"}, {"zab"}},
      {';', "b,a", {"b,a", "a", "b"}, {}, {}},
      {',', "b,a", {"b", "a", "a", "b"}, {"yb", "zab", "xa"}, {"zab"}},
      {',', "b;a", {"b;a", "a", "b"}, {}, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(1, c.global) + " " + c.text);
    global_string_array_separator = c.global;
    StringArray ins(C("a,b"), C(","));
    ins.Insert(1, C(c.text));
    EXPECT_EQ(EntriesOf(ins), c.insert1);
    StringArray any(C("xa,yb,zab"), C(","));
    any.ContainsAny(C(c.text));
    EXPECT_EQ(EntriesOf(any), c.any);
    StringArray all(C("xa,yb,zab"), C(","));
    all.ContainsAll(C(c.text));
    EXPECT_EQ(EntriesOf(all), c.all);
  }
}

}  // namespace
