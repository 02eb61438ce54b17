#include "words.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool split_words(const std::string &line, std::vector<std::string> *words, std::string *error) {
  words->clear();
  size_t i = 0, n = line.size();
  while (i < n) {
    while (i < n && is_blank(line[i])) ++i;
    if (i == n) break;
    std::string word;
    while (i < n && !is_blank(line[i])) {
      char c = line[i];
      if (c == '\'' || c == '"') {
        size_t close = line.find(c, i + 1);
        if (close == std::string::npos) {
          *error = std::string("unclosed ") + c + " quote";
          return false;
        }
        word.append(line, i + 1, close - i - 1);
        i = close + 1;
      } else {
        word += c;
        ++i;
      }
    }
    words->push_back(word);
  }
  return true;
}

bool is_blank_or_comment(const std::string &line) {
  for (char c : line) {
    if (is_blank(c)) continue;
    return c == '#';
  }
  return true;
}
