// Scratch directories for tests that need files (application databases):
// the one place tests get them from.
#ifndef TALVOR_TESTS_SUPPORT_TEMP_DIR_H
#define TALVOR_TESTS_SUPPORT_TEMP_DIR_H

#include <string>

#include "support/test_os.h"

namespace talvortest {

// A new, empty directory under /tmp whose name starts with prefix; "" when
// it could not be made.
inline std::string make_temp_dir(const std::string &prefix) { return create_unique_directory(prefix); }

// Removes dir and the files directly in it (the tests make no subfolders).
inline void remove_tree(const std::string &dir) {
  for (const std::string &name : directory_entries(dir)) remove_file(dir + "/" + name);
  remove_empty_directory(dir);
}

// A scratch directory for one scope: made by the constructor, removed with
// its files by the destructor, also when an assertion leaves the test early.
class TempDir {
 public:
  explicit TempDir(const std::string &prefix) : path_(make_temp_dir(prefix)) {}
  ~TempDir() {
    if (!path_.empty()) remove_tree(path_);
  }
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace talvortest

#endif
