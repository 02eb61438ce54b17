// Running a program of the application on the server.
#include <stdlib.h>
#include <string.h>

#include "api.h"
#include "request.h"

namespace {

// The program block: a new copy of program with a line feed appended, or a
// new empty text for a null or empty program. Null when out of memory.
char *make_program_block(const char *program) {
  if (!program || !program[0]) return empty_text();
  size_t len = strlen(program);
  char *block = (char *)malloc(len + 2);
  if (!block) return nullptr;
  memcpy(block, program, len);
  block[len] = '\n';
  block[len + 1] = '\0';
  return block;
}

}  // namespace

// Runs program with argument on the server (needs level 2). Returns a new
// text with the server's answer; a new empty text on failure (code in
// global_error). Flag 0 counts the run as a change (follow-up command 58).
char *TalvorInnerRunProgram(int handle, char *program, char *argument, int flag) {
  global_error = talvor_ok;
  if (!require_level(2)) return empty_text();
  ResultSetEntry *entry = require_entry(handle);
  // The program goes with a line feed appended, so it is never the marker.
  if (!entry || !require_connection() || !require_sendable({argument})) return empty_text();
  char *block = make_program_block(program);
  if (!block) {
    global_error = talvor_err_memory;
    return empty_text();
  }
  send_header(command_run_program, 5);
  send_number(entry->application_id);
  send_number(entry->set_id);
  send_text(block);
  send_text(argument);
  send_number(flag);
  free(block);

  char *result = nullptr;
  if (read_reply(reply_ok)) {
    result = read_text_block();
    if (!result) global_error = talvor_err_missing_block;
    // A failed follow-up overrides a missing block: both are failures, and
    // the follow-up is the later step.
    if (flag == 0) send_follow_up(entry->application_id);
  }
  if (!result) result = empty_text();
  return result;
}
