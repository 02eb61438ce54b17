// Parsing of search and sort items; no database access here.
#include "search_items.h"

#include <vector>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trim(const std::string &s) {
  size_t b = 0, e = s.size();
  while (b < e && is_blank(s[b])) ++b;
  while (e > b && is_blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

struct value_char {
  char c;
  bool escaped;
};

// Splits the raw value into characters, each marked literal when a
// backslash preceded it. 0 for a backslash with nothing after it.
int unescape(const std::string &raw, std::vector<value_char> *out) {
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\') {
      if (i + 1 == raw.size()) return 0;
      out->push_back({raw[i + 1], true});
      ++i;
    } else {
      out->push_back({raw[i], false});
    }
  }
  return 1;
}

}  // namespace

int parse_search_item(const std::string &text, search_condition *out) {
  if (trim(text).empty()) return item_empty;
  // Only leading blanks go here: a trailing blank may be escaped.
  size_t first = 0;
  while (is_blank(text[first])) ++first;
  std::string item = text.substr(first);

  size_t op_at = item.find_first_of("<>=!");
  if (op_at == std::string::npos) return item_invalid;
  std::string field = trim(item.substr(0, op_at));
  if (field.empty()) return item_invalid;

  size_t rest = op_at;
  char c0 = item[rest];
  char c1 = rest + 1 < item.size() ? item[rest + 1] : '\0';
  search_op op;
  if (c0 == '<' && c1 == '=') {
    op = op_le, rest += 2;
  } else if (c0 == '>' && c1 == '=') {
    op = op_ge, rest += 2;
  } else if (c0 == '<' && c1 == '>') {
    op = op_ne, rest += 2;
  } else if (c0 == '!' && c1 == '=') {
    op = op_ne, rest += 2;
  } else if (c0 == '=') {
    op = op_eq, rest += 1;
  } else if (c0 == '<') {
    op = op_lt, rest += 1;
  } else if (c0 == '>') {
    op = op_gt, rest += 1;
  } else {
    return item_invalid;  // a lone '!'
  }

  std::string raw = item.substr(rest);
  size_t lead = 0;
  while (lead < raw.size() && is_blank(raw[lead])) ++lead;
  raw.erase(0, lead);

  std::vector<value_char> chars;
  if (!unescape(raw, &chars)) return item_invalid;
  while (!chars.empty() && !chars.back().escaped && is_blank(chars.back().c)) chars.pop_back();

  out->field = field;
  out->op = op;
  out->value.clear();
  out->pattern.clear();
  out->is_pattern = false;
  bool may_match = op == op_eq || op == op_ne;
  for (const value_char &vc : chars) {
    out->value.push_back(vc.c);
    if (may_match && !vc.escaped && (vc.c == '*' || vc.c == '?')) out->is_pattern = true;
  }
  if (out->is_pattern) {
    for (const value_char &vc : chars) {
      if (!vc.escaped && (vc.c == '*' || vc.c == '?')) {
        out->pattern.push_back(vc.c);
      } else if (vc.c == '*' || vc.c == '?' || vc.c == '[') {
        // GLOB has no escape character: a bracket expression of one
        // character is how a literal special character is written.
        out->pattern.push_back('[');
        out->pattern.push_back(vc.c);
        out->pattern.push_back(']');
      } else {
        out->pattern.push_back(vc.c);
      }
    }
  }
  return item_ok;
}

int parse_sort_item(const std::string &text, sort_key *out) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) return 0;
  std::string field = trim(text.substr(0, colon));
  if (field.empty()) return 0;
  size_t i = colon + 1;
  while (i < text.size() && (is_blank(text[i]) || text[i] == '\v' || text[i] == '\f')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  long long v = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 12; ++i, ++digits)
    v = v * 10 + (text[i] - '0');
  if (negative) v = -v;
  if (v != 1 && v != -1) return 0;
  out->field = field;
  out->descending = v == -1;
  return 1;
}

const char *search_op_sql(search_op op) {
  switch (op) {
    case op_eq:
      return "=";
    case op_ne:
      return "<>";
    case op_lt:
      return "<";
    case op_gt:
      return ">";
    case op_le:
      return "<=";
    case op_ge:
      return ">=";
  }
  return "=";
}
