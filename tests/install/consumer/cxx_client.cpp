// A C++ program on the installed public functions (talvor/api.h), built
// with find_package(talvor): connects, has a wrong password refused,
// searches, counts, reads a value of the last record found and disconnects.
// Exits 1 at the first difference from what the caller expects.
//
//   cxx_client ADDRESS APPLICATION FORM USER PASSWORD SEARCH FIELD TOTAL VALUE
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include <talvor/api.h>

namespace {

// The functions take char*: each text gets a writable copy.
std::vector<char> text(const char *s) {
  std::string t = s;
  return std::vector<char>(t.c_str(), t.c_str() + t.size() + 1);
}

int fail(const char *what) {
  fprintf(stderr, "cxx_client: %s (code %d)\n", what, TalvorError());
  TalvorDisconnect();
  return 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 10) {
    fprintf(stderr, "usage: cxx_client ADDRESS APPLICATION FORM USER PASSWORD SEARCH FIELD TOTAL VALUE\n");
    return 2;
  }
  std::vector<char> address = text(argv[1]), application = text(argv[2]), form = text(argv[3]),
                    user = text(argv[4]), password = text(argv[5]), search = text(argv[6]),
                    field = text(argv[7]), wrong = text("not the password");
  int total_wanted = atoi(argv[8]);
  std::string value_wanted = argv[9];

  if (!TalvorConnect(address.data())) return fail("connect failed");

  int handle = TalvorSearch(application.data(), form.data(), 0, 0, search.data(), user.data(),
                            wrong.data());
  if (handle != -1 || TalvorError() != talvor_err_login) return fail("a wrong password was not refused");

  handle = TalvorSearch(application.data(), form.data(), 0, 0, search.data(), user.data(),
                        password.data());
  if (handle < 0) return fail("search failed");
  int total = TalvorTotal(handle);
  if (total != total_wanted) {
    fprintf(stderr, "cxx_client: %d records found, %d expected\n", total, total_wanted);
    return fail("wrong total");
  }
  TalvorSetCurrentPosition(handle, total);
  if (TalvorError() != talvor_ok) return fail("moving to the last record failed");
  char *value = TalvorGetValue(handle, field.data());
  if (value == nullptr || TalvorError() != talvor_ok) return fail("reading the value failed");
  std::string got = value;
  free(value);
  if (got != value_wanted) {
    fprintf(stderr, "cxx_client: %s is \"%s\", \"%s\" expected\n", argv[7], got.c_str(),
            value_wanted.c_str());
    return fail("wrong value");
  }
  printf("cxx_client: %d records, the last one's %s is \"%s\"\n", total, argv[7], got.c_str());

  TalvorClose(handle);
  if (TalvorError() != talvor_ok) return fail("close failed");
  TalvorDisconnect();
  if (TalvorError() != talvor_ok) {
    fprintf(stderr, "cxx_client: disconnect reported code %d\n", TalvorError());
    return 1;
  }
  return 0;
}
