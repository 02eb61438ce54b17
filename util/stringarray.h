// StringArray: a list of heap strings split from one text on a separator.
// Positions are 1-based. Entries are malloc'ed and owned by the list; an
// entry may be null (missing) only when copying a piece ran out of memory.
#ifndef TALVOR_UTIL_STRINGARRAY_H
#define TALVOR_UTIL_STRINGARRAY_H

#include "talvor/export.h"

// Default separator for lists built without one (initially ';').
TALVOR_EXPORT extern char global_string_array_separator;
// Exported beside it; nothing reads or writes it.
TALVOR_EXPORT extern char global_old_string_array_separator;

class TALVOR_EXPORT StringArray {
 public:
  // Splits text (may be null) on separator's first character, or on the
  // process-wide default when separator is null.
  StringArray(char *text = nullptr, char *separator = nullptr);
  ~StringArray();

  int Populate(char *text);
  void Append(char *text);
  int Count();
  char *Access(int position);  // new heap copy; empty text when out of range
  void Replace(char *text, int position);
  void Insert(int position, char *text);
  void Delete(int position);
  int Find(char *text, int skip);
  char *Depopulate();  // joined text (caller frees) or null without entries
  int StringLength();
  void Sort(int numeric);
  void Reverse();
  void Unique();
  void Union(StringArray *other);
  void Difference(StringArray *other);
  int Compare(StringArray *other);
  void ContainsAny(char *patterns);
  void ContainsAll(char *patterns);

  char **entries;
  char separator;
  int entry_count;
  int separator_fixed;

 private:
  StringArray(const StringArray &) = delete;
  StringArray &operator=(const StringArray &) = delete;
};

// qsort comparators over pointers to entry pointers. A missing entry sorts
// before every present one.
TALVOR_EXPORT int qsort_stricmp(const void *a, const void *b);
TALVOR_EXPORT int qsort_numcmp(const void *a, const void *b);

// Trims, in place, blanks/LF/CR at the start and blanks at the end.
TALVOR_EXPORT void strip_leading_trailing_spaces(char *text);

#endif
