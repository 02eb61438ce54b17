// Search and sort items as clients write them, parsed into conditions.
//
// A search item is FIELD OP VALUE with OP one of = <> != < > <= >=.
// Blanks around the field name and the operator are ignored, and so are
// trailing blanks of the value. A backslash makes the next character of the
// value literal (\% for a percent sign, \* for a star, \\ for a backslash,
// "\ " for a kept trailing blank). With = and <> (or !=) an unescaped * in
// the value matches any run of characters and an unescaped ? any single
// character. An empty value with = matches an absent or empty field, with
// <> a present, non-empty one. Items are pure data here: nothing of them is
// ever put into SQL text, only bound as parameters.
//
// A sort item is FIELD:DIRECTION, DIRECTION read like atoi (blanks, a sign,
// digits, anything after ignored) and 1 (ascending) or -1 (descending).
#ifndef TALVOR_SERVER_SEARCH_ITEMS_H
#define TALVOR_SERVER_SEARCH_ITEMS_H

#include <string>

enum search_op { op_eq, op_ne, op_lt, op_gt, op_le, op_ge };

struct search_condition {
  std::string field;  // as written (resolved against the schema later)
  search_op op = op_eq;
  std::string value;  // the unescaped value
  bool is_pattern = false;  // value holds wildcards: pattern below applies
  std::string pattern;      // the value as a GLOB pattern (literals bracketed)
};

enum parse_result {
  item_ok = 1,
  item_empty = 0,     // a blank item: nothing to search on, skipped
  item_invalid = -1   // no field, no operator, or a dangling backslash
};

// Parses one search item (its text, without the NUL).
int parse_search_item(const std::string &text, search_condition *out);

struct sort_key {
  std::string field;
  bool descending = false;
};

// Parses one sort item. 1 with *out filled, 0 when it is not FIELD:1 or FIELD:-1.
int parse_sort_item(const std::string &text, sort_key *out);

// The SQL operator of a comparison (never a wildcard match).
const char *search_op_sql(search_op op);

#endif
