#include "table.h"

#include <stdio.h>

#include <algorithm>

#include <talvor/api.h>
#include "session.h"

namespace {

// Columns on a terminal: UTF-8 continuation bytes take none.
size_t display_width(const std::string &text) {
  size_t width = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++width;
  return width;
}

void print_padded(const std::string &text, size_t width) {
  fputs(text.c_str(), stdout);
  for (size_t w = display_width(text); w < width; ++w) fputc(' ', stdout);
}

void print_row(const std::vector<std::string> &cells, const std::vector<size_t> &widths) {
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) fputs(" | ", stdout);
    // The last column is not padded: no trailing blanks.
    if (i + 1 < cells.size()) {
      print_padded(cells[i], widths[i]);
    } else {
      fputs(cells[i].c_str(), stdout);
    }
  }
  fputc('\n', stdout);
}

}  // namespace

std::string cell_text(const std::string &value) {
  std::string out;
  for (unsigned char c : value) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool print_table(const std::string &command, int handle, const std::vector<std::string> &fields,
                 long limit) {
  int total = TalvorTotal(handle);
  if (total < 0) return failed(command, "cannot count the records", TalvorError());
  // 0 when the set has no current record.
  int was_at = TalvorGetCurrentPosition(handle);
  if (was_at < 0) return failed(command, "cannot read the current position", TalvorError());

  long shown = limit > 0 && limit < total ? limit : total;
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"#"});
  for (const std::string &f : fields) rows[0].push_back(f);

  bool ok = true;
  for (long pos = 1; pos <= shown && ok; ++pos) {
    TalvorSetCurrentPosition(handle, static_cast<int>(pos));
    if (TalvorError() != 0) {
      ok = failed(command, "cannot move to record " + std::to_string(pos), TalvorError());
      break;
    }
    std::vector<std::string> row{std::to_string(pos)};
    for (const std::string &f : fields) {
      c_text field(f);
      std::string value = take_text(TalvorGetValue(handle, field.get()));
      if (TalvorError() != 0) {
        ok = failed(command, "cannot read " + f + " of record " + std::to_string(pos),
                    TalvorError());
        break;
      }
      row.push_back(cell_text(value));
    }
    rows.push_back(row);
  }
  if (was_at > 0) {
    TalvorSetCurrentPosition(handle, was_at);
    if (ok && TalvorError() != 0)
      ok = failed(command, "cannot move back to record " + std::to_string(was_at), TalvorError());
  }
  if (!ok) return false;

  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto &row : rows)
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], display_width(row[i]));
  print_row(rows[0], widths);
  for (size_t i = 0; i < widths.size(); ++i) {
    if (i > 0) fputs("-+-", stdout);
    for (size_t w = 0; w < widths[i]; ++w) fputc('-', stdout);
  }
  fputc('\n', stdout);
  for (size_t r = 1; r < rows.size(); ++r) print_row(rows[r], widths);
  if (shown < total) printf("(%ld of %d records shown)\n", shown, total);
  if (total == 0) printf("(no records)\n");
  return true;
}
