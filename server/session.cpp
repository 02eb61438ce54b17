// The request loop of one client connection.
#include "server/session.h"

#include "comm/wire.h"
#include "server/database.h"
#include "server/handlers.h"
#include "server/reply_codes.h"
#include "server/server_shared.h"
#include "socket/sockio.h"

namespace {

void end_session(session &s) {
  // Whatever was not committed by now never will be.
  for (auto &entry : s.apps) close_app_database(entry.second.get());
  s.apps.clear();
  s.sets.clear();
  if (s.holds_client_slot) {
    s.shared->release_client_slot();
    s.holds_client_slot = false;
  }
}

}  // namespace

void send_progress(session &s, long long count) {
  reply r;
  r.code = reply_progress;
  r.blocks.push_back(num(count));
  send_reply(s.sock, r);
}

reply dispatch(session &s, const request &req, bool *end) {
  switch (req.code) {
    case 211:
      return handle_first_exchange(s, req, end);
    case 265:
      return handle_version(s, req);
    case 1:
    case 2:
      *end = true;
      return ok_reply();
    default:
      break;
  }
  if (!s.handshake_done) return fail(reply_no_handshake);
  switch (req.code) {
    case 3:
      return handle_open_application(s, req);
    case 167:
      return handle_login(s, req);
    case 58:
      return handle_commit(s, req);
    case 75:
      return handle_form_lookup(s, req);
    case 109:
      return handle_allocate_set(s, req);
    case 47:
      return handle_bind_set(s, req);
    case 54:
      return handle_search(s, req);
    case 85:
      return handle_sort(s, req);
    case 299:
      return handle_close_set(s, req);
    case 59:
      return handle_total(s, req);
    case 86:
      return handle_move(s, req);
    case 273:
      return handle_position(s, req);
    case 56:
      return handle_get_value(s, req);
    case 48:
      return handle_set_value(s, req);
    case 272:
      return handle_create(s, req);
    case 78:
      return handle_remove(s, req);
    case 40:
      return handle_delete(s, req);
    case 314:
      return handle_subset(s, req);
    case 318:
      return handle_parent(s, req);
    case 274:
      return handle_reparent(s, req);
    case 313:
      return handle_program(s, req);
    default:
      return fail(reply_unknown_command);
  }
}

void run_session(server_shared *shared, socket_t *sock, long id) {
  session s;
  s.shared = shared;
  s.sock = sock;
  s.id = id;
  for (;;) {
    request req;
    // Until the handshake is through, a connection that says nothing is
    // dropped, so idle connections cannot pile up.
    time_t timeout = s.handshake_done ? -1 : shared->settings.handshake_timeout_s;
    if (read_request(sock, shared->settings.limits, timeout, &req) != read_ok) break;
    bool end = false;
    reply r = dispatch(s, req, &end);
    if (!send_reply(sock, r) || end) break;
  }
  end_session(s);
}
