// Every operation that takes a handle, called on one handle with valid
// other arguments, its outcome written as text: the number, "text:" and the
// returned text, or "none" for operations without a result.
#ifndef TALVOR_TESTS_CORE_OPERATION_TABLE_H
#define TALVOR_TESTS_CORE_OPERATION_TABLE_H

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "api.h"

namespace opstest {

// A writable copy of a text for one call's char* parameter. Every call gets
// its own: some operations change their text in place (SetValue trims it),
// so a shared buffer would hand the next call what the last one left.
struct Arg {
  explicit Arg(const char *text) : bytes(text, text + strlen(text) + 1) {}
  operator char *() { return bytes.data(); }
  std::vector<char> bytes;
};

struct HandleOperation {
  const char *name;
  std::function<std::string(int handle, int other_handle)> call;
  std::string failure;  // the outcome of a refused call
};

inline std::string text_outcome(char *text) {
  if (!text) return "null";
  std::string out = std::string("text:") + text;
  free(text);
  return out;
}

inline std::vector<HandleOperation> handle_operations() {
  return {
      {"Close", [](int h, int) { TalvorClose(h); return std::string("none"); }, "none"},
      {"Total", [](int h, int) { return std::to_string(TalvorTotal(h)); }, "-1"},
      {"SetCurrentPosition", [](int h, int) { TalvorSetCurrentPosition(h, 1); return std::string("none"); },
       "none"},
      {"GetCurrentPosition", [](int h, int) { return std::to_string(TalvorGetCurrentPosition(h)); }, "-1"},
      {"GetValue", [](int h, int) { return text_outcome(TalvorGetValue(h, Arg("Name"))); }, "text:"},
      {"SetValue", [](int h, int) { TalvorSetValue(h, Arg("Name"), Arg(" v ")); return std::string("none"); },
       "none"},
      {"CreateNewRecord", [](int h, int) { TalvorCreateNewRecord(h); return std::string("none"); }, "none"},
      {"RemoveRecord", [](int h, int) { TalvorRemoveRecord(h); return std::string("none"); }, "none"},
      {"DeleteRecord", [](int h, int) { TalvorDeleteRecord(h); return std::string("none"); }, "none"},
      {"Sort", [](int h, int) { TalvorSort(h, Arg("A:1")); return std::string("none"); }, "none"},
      {"SubSet", [](int h, int) { return std::to_string(TalvorSubSet(h, Arg("Lines"))); }, "-1"},
      {"Parent", [](int h, int) { return std::to_string(TalvorParent(h)); }, "-1"},
      {"Reparent", [](int h, int other) { TalvorReparent(h, Arg("Lines"), other); return std::string("none"); },
       "none"},
      {"Reparent (target)",
       [](int h, int other) { TalvorReparent(other, Arg("Lines"), h); return std::string("none"); }, "none"},
      {"RunProgram", [](int h, int) { return text_outcome(TalvorRunProgram(h, Arg("p"), Arg("x"), 0)); },
       "text:"},
  };
}

}  // namespace opstest

#endif
