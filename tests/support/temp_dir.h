// A scratch directory for tests that need files (application databases).
#ifndef TALVOR_TESTS_SUPPORT_TEMP_DIR_H
#define TALVOR_TESTS_SUPPORT_TEMP_DIR_H

#include <string>

#include "support/test_os.h"

namespace talvortest {

// Removes dir and the files directly in it (the tests make no subfolders).
inline void remove_tree(const std::string &dir) {
  for (const std::string &name : directory_entries(dir)) remove_file(dir + "/" + name);
  remove_empty_directory(dir);
}

}  // namespace talvortest

#endif
