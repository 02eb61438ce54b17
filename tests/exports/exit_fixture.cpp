// Fixture library for the export checker: the SIGINT handler may end the
// process, nothing else may.
#include <cstdio>
#include <cstdlib>
#include <exception>

#define FIXTURE_EXPORT __attribute__((visibility("default")))

FIXTURE_EXPORT void sig_int(int signal) {
  std::printf("CAUGHT SIGNAL %d\n", signal);
  std::exit(0);
}

// Conditional, so GCC may move the call into a separate .cold part.
FIXTURE_EXPORT int give_up(int code) {
  if (code < 0) std::abort();
  return code;
}

FIXTURE_EXPORT void stop_now() { std::terminate(); }
