// Printing the records of a result set as a table.
#ifndef TALVOR_EXAMPLES_TALVOR_TABLE_H
#define TALVOR_EXAMPLES_TALVOR_TABLE_H

#include <string>
#include <vector>

// Prints records 1..min(total, limit) of the set (limit <= 0: all) with the
// given fields as columns, moving through them, then moves back to the
// record that was current before. True when every record was read; on a
// failure prints why (as `command`) and returns false.
bool print_table(const std::string &command, int handle, const std::vector<std::string> &fields,
                 long limit);

// The text shown in a table cell: control characters written as \n, \t,
// \r or \xNN so a cell stays on one line.
std::string cell_text(const std::string &value);

#endif
