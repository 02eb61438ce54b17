#include "error_text.h"

namespace {

const char *const texts[] = {
    "no error",                                              // 0
    "the communications channel could not be created",       // 1
    "out of memory",                                         // 2
    "could not connect to the server",                       // 3
    "the connection did not shut down in time",              // 4
    "too many open result sets",                             // 5
    "the server's reply was incomplete",                     // 6
    "the server refused the request",                        // 7
    "no such form",                                          // 8
    "login refused",                                         // 9
    "no such application",                                   // 10
    "no such result set",                                    // 11
    "result-set handle out of range",                        // 12
    "no usable sort item (write FIELD:1 or FIELD:-1)",       // 13
    "positions start at 1",                                  // 14
    "user level too low for this operation",                 // 15
    "too many open result sets",                             // 16
    "no connection is running",                              // 17
    "not connected",                                         // 18
    "a text equals the protocol's end-of-list marker",       // 19
};

}  // namespace

const char *error_text(int code) {
  if (code >= 0 && code < static_cast<int>(sizeof texts / sizeof texts[0])) return texts[code];
  return "unknown error";
}
