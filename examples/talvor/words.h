// Splitting a command line into words.
#ifndef TALVOR_EXAMPLES_TALVOR_WORDS_H
#define TALVOR_EXAMPLES_TALVOR_WORDS_H

#include <string>
#include <vector>

// Splits line on blanks and tabs. A part in '...' or "..." is taken as it
// is (blanks, backslashes and the other quote included) and joins the word
// it touches, so "" is an empty word. Backslashes are never special here:
// they reach the server unchanged. Returns false with *error set when a
// quote is not closed.
bool split_words(const std::string &line, std::vector<std::string> *words, std::string *error);

// True for a line with nothing to run: empty, blank or a '#' comment.
bool is_blank_or_comment(const std::string &line);

#endif
