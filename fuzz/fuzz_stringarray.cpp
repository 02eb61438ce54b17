// The string list: splitting, joining, sorting, de-duplicating, finding and
// filtering texts that come from the server or the caller.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "stringarray.h"

namespace {

void check(bool condition) {
  if (!condition) abort();
}

// Splits the input at its first two NULs into up to three texts.
std::string take(const uint8_t *&p, const uint8_t *end) {
  const uint8_t *nul = static_cast<const uint8_t *>(memchr(p, 0, static_cast<size_t>(end - p)));
  const uint8_t *stop = nul ? nul : end;
  std::string s(reinterpret_cast<const char *>(p), static_cast<size_t>(stop - p));
  p = nul ? nul + 1 : end;
  return s;
}

void check_strip(const std::string &text) {
  std::string copy = text;
  strip_leading_trailing_spaces(&copy[0]);
  std::string out(copy.c_str());
  if (out.empty()) return;
  check(out[0] != ' ' && out[0] != '\n' && out[0] != '\r');
  check(out.back() != ' ');
  check(text.find(out) != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  char sep[2] = {static_cast<char>(data[0]), '\0'};
  unsigned ops = data[1];
  const uint8_t *p = data + 2;
  const uint8_t *end = data + size;
  std::string text = take(p, end);
  std::string other = take(p, end);
  std::string patterns = take(p, end);

  StringArray list(&text[0], (ops & 1) ? nullptr : sep);
  if (!(ops & 1) && !text.empty()) {
    // Freshly split, the list joins back into the same text.
    char *joined = list.Depopulate();
    check(joined != nullptr && text == joined);
    free(joined);
  }
  if (ops & 2) list.Sort((ops & 4) != 0);
  if (ops & 8) {
    list.Unique();
    for (int i = 0; i < list.entry_count; ++i)
      for (int j = i + 1; j < list.entry_count; ++j)
        check(strcasecmp(list.entries[i], list.entries[j]) != 0);
  }
  for (int i = 1; i <= list.Count(); ++i) {
    char *entry = list.Access(i);
    int found = list.Find(entry, -1);
    check(found >= 1 && found <= i);
    free(entry);
  }
  StringArray second(&other[0], sep);
  if (ops & 16) list.Union(&second);
  if (ops & 32) list.Difference(&second);
  list.Compare(&second);
  if (ops & 64) list.ContainsAny(&patterns[0]);
  if (ops & 128) list.ContainsAll(&patterns[0]);
  if (list.Count() > 0) {
    list.Insert(1 + static_cast<int>(size % static_cast<size_t>(list.Count())), &patterns[0]);
    list.Delete(1 + static_cast<int>(size % static_cast<size_t>(list.Count())));
  }
  list.Reverse();
  char *joined = list.Depopulate();
  if (joined) check(static_cast<int>(strlen(joined)) <= list.StringLength() + list.Count());
  free(joined);

  check_strip(text);
  return 0;
}
