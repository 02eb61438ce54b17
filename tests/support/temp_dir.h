// A scratch directory for tests that need files (application databases).
#ifndef TALVOR_TESTS_SUPPORT_TEMP_DIR_H
#define TALVOR_TESTS_SUPPORT_TEMP_DIR_H

#include <dirent.h>
#include <unistd.h>

#include <string>

namespace talvortest {

// Removes dir and the files directly in it (the tests make no subfolders).
inline void remove_tree(const std::string &dir) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent *e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") unlink((dir + "/" + n).c_str());
  }
  closedir(d);
  rmdir(dir.c_str());
}

}  // namespace talvortest

#endif
