// Command 313: running a server program.
#include "handlers.h"
#include "program.h"
#include "reply_codes.h"
#include "server_shared.h"

reply handle_program(session &s, const request &req) {
  app_context *app;
  record_set *set;
  reply r;
  if (!resolve(s, req, 5, 2, &app, &set, &r)) return r;
  long long flag;
  if (!block_int(req.blocks[4], &flag)) return fail(reply_malformed);
  std::string out;
  // Flag 0 is the run the client follows with a commit: only it may change.
  int code = run_program(app, *set, block_text(req.blocks[2]), block_text(req.blocks[3]),
                         flag == 0, s.shared->settings, &out);
  return code == reply_ok ? ok_reply({out}) : fail(code);
}
