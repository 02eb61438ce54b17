// StringArray: a list of malloc'ed strings split from one text on a
// separator character. Every allocation is checked; nothing throws.
#include "stringarray.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

char global_string_array_separator = ';';
char global_old_string_array_separator = ';';

namespace {

// Frees every present entry and the array; leaves an empty list with no array.
void free_all(StringArray &list) {
  if (list.entries) {
    for (int i = 0; i < list.entry_count; i++) free(list.entries[i]);
    free(list.entries);
  }
  list.entries = nullptr;
  list.entry_count = 0;
}

// A list built without a separator follows the process-wide default.
void refresh_separator(StringArray &list) {
  if (!list.separator_fixed && global_string_array_separator != '\0')
    list.separator = global_string_array_separator;
}

// Adds a copy of piece at the end. Returns false when the array could not
// grow; the list is then left exactly as it was. A piece whose copy fails
// is stored as a missing entry (and counted).
bool add_piece(StringArray &list, const char *piece) {
  char **grown = static_cast<char **>(
      realloc(list.entries, sizeof(char *) * (static_cast<size_t>(list.entry_count) + 1)));
  if (!grown) return false;
  list.entries = grown;
  list.entries[list.entry_count] = strdup(piece);
  list.entry_count++;
  return true;
}

// Splits copy (owned, freed here) on the list's separator and adds every
// piece, the last one even when empty. Stops at the first piece the array
// cannot grow for, so the list holds a prefix of the pieces, never a gap.
void split_owned(StringArray &list, char *copy) {
  char *start = copy;
  bool ok = true;
  for (char *p = copy; ok && *p; p++) {
    if (*p == list.separator) {
      *p = '\0';
      ok = add_piece(list, start);
      start = p + 1;
    }
  }
  if (ok) add_piece(list, start);
  free(copy);
}

// True when entry contains pattern ignoring case; an empty pattern matches
// only an empty entry.
bool entry_matches(const char *entry, const char *pattern) {
  size_t plen = strlen(pattern);
  size_t elen = strlen(entry);
  if (plen == 0) return elen == 0;
  if (elen < plen) return false;
  for (size_t off = 0; off < elen; off++)
    if (strncasecmp(pattern, entry + off, plen) == 0) return true;
  return false;
}

// Array size for a filtered copy: never zero, so a failed malloc is
// distinguishable from an empty request.
size_t slots_for(int count) { return count > 0 ? static_cast<size_t>(count) : 1; }

// atoi's reading of a number (leading blanks, sign, digits, 0 when none),
// clamped to int instead of overflowing.
int leading_int(const char *text) {
  long long v = strtoll(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

}  // namespace

StringArray::StringArray(char *text, char *sep)
    : entries(nullptr), separator(';'), entry_count(0), separator_fixed(0) {
  if (sep) {
    separator = sep[0];
    separator_fixed = 1;
  } else if (global_string_array_separator != '\0') {
    separator = global_string_array_separator;
  }
  Populate(text);
}

StringArray::~StringArray() { free_all(*this); }

// Result: the new number of entries.
int StringArray::Populate(char *text) {
  // Copy before emptying so a text taken from this list's own entries stays valid.
  char *copy = (text && *text) ? strdup(text) : nullptr;
  free_all(*this);
  if (!copy) return entry_count;
  refresh_separator(*this);
  split_owned(*this, copy);
  return entry_count;
}

void StringArray::Append(char *text) {
  if (!text) return;
  refresh_separator(*this);
  char *copy = strdup(text);
  if (!copy) return;
  split_owned(*this, copy);
}

// Result: the number of entries, missing ones included.
int StringArray::Count() { return entry_count; }

// Result: a new heap copy of the entry, an empty text when there is none,
// null only when even the empty text cannot be allocated.
char *StringArray::Access(int position) {
  if (position >= 1 && position <= entry_count && entries[position - 1]) {
    char *copy = strdup(entries[position - 1]);
    if (copy) return copy;
  }
  return strdup("");
}

void StringArray::Replace(char *text, int position) {
  if (!text || position < 1 || position > entry_count) return;
  // Copy first: on failure the old entry stays rather than going missing.
  char *copy = strdup(text);
  if (!copy) return;
  free(entries[position - 1]);
  entries[position - 1] = copy;
}

void StringArray::Insert(int position, char *text) {
  if (!text || position < 1 || position > entry_count) return;
  // Patterns always split on the default separator, never this list's own.
  StringArray pieces(text);
  if (pieces.entry_count == 0) return;
  size_t total = static_cast<size_t>(entry_count) + static_cast<size_t>(pieces.entry_count);
  char **merged = static_cast<char **>(malloc(sizeof(char *) * total));
  if (!merged) return;
  int before = position - 1;
  int n = 0;
  for (int i = 0; i < before; i++) merged[n++] = entries[i];
  for (int i = 0; i < pieces.entry_count; i++) merged[n++] = pieces.entries[i];
  for (int i = before; i < entry_count; i++) merged[n++] = entries[i];
  // The pieces now belong to this list.
  free(pieces.entries);
  pieces.entries = nullptr;
  pieces.entry_count = 0;
  free(entries);
  entries = merged;
  entry_count = n;
}

void StringArray::Delete(int position) {
  if (position < 1 || position > entry_count) return;
  if (entry_count == 1) {
    // The one-slot array is kept: the list has an array but no entries.
    free(entries[0]);
    entries[0] = nullptr;
    entry_count = 0;
    return;
  }
  char **rest = static_cast<char **>(malloc(sizeof(char *) * static_cast<size_t>(entry_count - 1)));
  if (!rest) return;
  int n = 0;
  for (int i = 0; i < entry_count; i++) {
    if (i == position - 1)
      free(entries[i]);
    else
      rest[n++] = entries[i];
  }
  free(entries);
  entries = rest;
  entry_count = n;
}

// Result: 1-based position of the first entry equal to text ignoring case,
// other than skip; -1 when there is none.
int StringArray::Find(char *text, int skip) {
  if (!text || !entries) return -1;
  for (int i = 0; i < entry_count; i++) {
    const char *entry = entries[i];
    if (!entry) continue;
    bool match = (*text == '\0') ? (*entry == '\0') : (strcasecmp(text, entry) == 0);
    if (match && i + 1 != skip) return i + 1;
  }
  return -1;
}

// Result: the entries joined with the separator as a new heap string, or
// null when the list has no array or the buffer cannot be allocated.
char *StringArray::Depopulate() {
  if (!entries) return nullptr;
  refresh_separator(*this);
  size_t size = static_cast<size_t>(StringLength()) + static_cast<size_t>(entry_count);
  if (size == 0) size = 1;
  char *joined = static_cast<char *>(malloc(size));
  if (!joined) return nullptr;
  char *out = joined;
  for (int i = 0; i < entry_count; i++) {
    if (!entries[i]) continue;  // a missing entry adds neither text nor separator
    size_t len = strlen(entries[i]);
    memcpy(out, entries[i], len);
    out += len;
    if (i != entry_count - 1) *out++ = separator;
  }
  *out = '\0';
  return joined;
}

// Result: the summed length of the present entries.
int StringArray::StringLength() {
  if (!entries) return 0;
  size_t sum = 0;
  for (int i = 0; i < entry_count; i++)
    if (entries[i]) sum += strlen(entries[i]);
  return static_cast<int>(sum);
}

void StringArray::Sort(int numeric) {
  if (!entries || entry_count < 2) return;
  qsort(entries, static_cast<size_t>(entry_count), sizeof(char *),
        numeric ? qsort_numcmp : qsort_stricmp);
}

void StringArray::Reverse() {
  for (int i = 0, j = entry_count - 1; i < j; i++, j--) {
    char *t = entries[i];
    entries[i] = entries[j];
    entries[j] = t;
  }
}

void StringArray::Unique() {
  for (int i = 1; i <= entry_count; i++) {
    if (!entries[i - 1]) continue;
    for (;;) {
      int dup = Find(entries[i - 1], i);
      if (dup == -1) break;
      int before = entry_count;
      Delete(dup);
      if (entry_count == before) return;  // out of memory: stop rather than spin
      if (dup < i) i--;  // keep i on the same entry
    }
  }
}

void StringArray::Union(StringArray *other) {
  if (!other) return;
  // Re-read other's fields each time: other may be this list.
  for (int i = 0; i < other->entry_count; i++) {
    char *entry = other->entries[i];
    if (entry && Find(entry, -1) == -1) Append(entry);
  }
}

void StringArray::Difference(StringArray *other) {
  if (!other) return;
  for (int i = 0; i < other->entry_count; i++) {
    char *entry = other->entries[i];
    if (!entry) continue;
    int pos = Find(entry, -1);
    if (pos != -1) Delete(pos);
  }
}

// Result: how many of this list's positions hold a text the other list has.
int StringArray::Compare(StringArray *other) {
  if (!other) return 0;
  int found = 0;
  for (int i = 1; i <= entry_count; i++) {
    char *copy = Access(i);
    if (copy && other->Find(copy, -1) != -1) found++;
    free(copy);
  }
  return found;
}

void StringArray::ContainsAny(char *patterns) {
  if (!patterns || !entries) return;
  StringArray pats(patterns);
  char **kept = static_cast<char **>(malloc(sizeof(char *) * slots_for(entry_count)));
  if (!kept) {
    free_all(*this);
    return;
  }
  int n = 0;
  for (int p = 0; p < pats.entry_count; p++) {
    const char *pattern = pats.entries[p];
    if (!pattern) continue;
    for (int i = 0; i < entry_count; i++) {
      // A kept entry is taken out of the old array, so each is kept once.
      if (entries[i] && entry_matches(entries[i], pattern)) {
        kept[n++] = entries[i];
        entries[i] = nullptr;
      }
    }
  }
  for (int i = 0; i < entry_count; i++) free(entries[i]);
  free(entries);
  entries = kept;
  entry_count = n;
}

void StringArray::ContainsAll(char *patterns) {
  if (!patterns) return;
  StringArray pats(patterns);
  for (int p = 0; p < pats.entry_count && entries; p++) {
    const char *pattern = pats.entries[p];
    if (!pattern) continue;
    char **kept = static_cast<char **>(malloc(sizeof(char *) * slots_for(entry_count)));
    if (!kept) continue;
    int n = 0;
    for (int i = 0; i < entry_count; i++) {
      if (!entries[i]) continue;
      if (entry_matches(entries[i], pattern))
        kept[n++] = entries[i];
      else
        free(entries[i]);
    }
    free(entries);
    entries = kept;
    entry_count = n;
  }
}

// Result: strcasecmp order; a missing entry comes first.
int qsort_stricmp(const void *a, const void *b) {
  const char *x = *static_cast<char *const *>(a);
  const char *y = *static_cast<char *const *>(b);
  if (x && y) return strcasecmp(x, y);
  if (x) return 1;
  if (y) return -1;
  return 0;
}

// Result: -1, 0 or 1 by leading integer value; a missing entry comes first.
int qsort_numcmp(const void *a, const void *b) {
  const char *x = *static_cast<char *const *>(a);
  const char *y = *static_cast<char *const *>(b);
  if (x && y) {
    int vx = leading_int(x);
    int vy = leading_int(y);
    return vx > vy ? 1 : (vx < vy ? -1 : 0);
  }
  if (x) return 1;
  if (y) return -1;
  return 0;
}

void strip_leading_trailing_spaces(char *text) {
  if (!text || !*text) return;
  size_t len = strlen(text);
  size_t start = 0;
  while (start < len && (text[start] == ' ' || text[start] == '\n' || text[start] == '\r')) start++;
  // Only blanks are cut at the end: a trailing LF or CR (and blanks before it) stays.
  size_t end = len;
  while (end > 0 && text[end - 1] == ' ') end--;
  text[end] = '\0';
  if (start >= len) {
    text[0] = '\0';
    return;
  }
  memmove(text, text + start, end - start + 1);
}
