// Fixture library for the export checker: a few symbols of the allowed
// families next to strays it must flag. Visibility is spelled out so a
// project-wide -fvisibility=hidden cannot hide the strays.
#include <cstdlib>

#define FIXTURE_EXPORT __attribute__((visibility("default")))

// Allowed: an exact public signature, a relay function (any parameters) and
// a shared variable.
FIXTURE_EXPORT int TalvorConnect(char *) { return 0; }
FIXTURE_EXPORT int s_read(void *, char *, int size) { return size; }
FIXTURE_EXPORT int global_error = 0;

// Allowed: a socket class with its members, vtable and typeinfo.
class FIXTURE_EXPORT socket_t {
 public:
  virtual ~socket_t();
  virtual int close();
};
socket_t::~socket_t() {}
int socket_t::close() { return 0; }

// Strays: a helper, a public name with the wrong parameter list, a marker
// variable, and a plain C function (allowed only with --allow-family c).
FIXTURE_EXPORT int read_int(const char *text) { return std::atoi(text); }
FIXTURE_EXPORT int TalvorClose(long) { return 0; }
FIXTURE_EXPORT extern const char END_OF_LIST[] = "end";
extern "C" FIXTURE_EXPORT int talvor_probe(void) { return 1; }
