// The request loop of one client connection.
#include "session.h"

#include "wire.h"
#include "database.h"
#include "handlers.h"
#include "protocol.h"
#include "reply_codes.h"
#include "server_shared.h"
#include "sockio.h"

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
    case command_hello:
      return handle_first_exchange(s, req, end);
    case command_version:
      return handle_version(s, req);
    case command_disconnect:
    case command_local_shutdown:
      *end = true;
      return ok_reply();
    default:
      break;
  }
  if (!s.handshake_done) return fail(reply_no_handshake);
  switch (req.code) {
    case command_open_application:
      return handle_open_application(s, req);
    case command_login:
      return handle_login(s, req);
    case command_follow_up:
      return handle_commit(s, req);
    case command_find_form:
      return handle_form_lookup(s, req);
    case command_allocate_set:
      return handle_allocate_set(s, req);
    case command_bind_set:
      return handle_bind_set(s, req);
    case command_search:
      return handle_search(s, req);
    case command_sort:
      return handle_sort(s, req);
    case command_close_set:
      return handle_close_set(s, req);
    case command_total:
      return handle_total(s, req);
    case command_set_position:
      return handle_move(s, req);
    case command_get_position:
      return handle_position(s, req);
    case command_get_value:
      return handle_get_value(s, req);
    case command_set_value:
      return handle_set_value(s, req);
    case command_create_record:
      return handle_create(s, req);
    case command_remove_record:
      return handle_remove(s, req);
    case command_delete_record:
      return handle_delete(s, req);
    case command_subset:
      return handle_subset(s, req);
    case command_parent:
      return handle_parent(s, req);
    case command_reparent:
      return handle_reparent(s, req);
    case command_run_program:
      return handle_program(s, req);
    default:
      return fail(reply_unknown_command);
  }
}

namespace {

bool logged_in_anywhere(const session &s) {
  for (const auto &app : s.apps)
    if (app.second->logged_in) return true;
  return false;
}

request_limits limits_for(const session &s) {
  const request_limits &after = s.shared->settings.limits;
  if (logged_in_anywhere(s)) return after;
  const request_limits &before = s.shared->settings.pre_login_limits;
  request_limits l;
  l.max_blocks = before.max_blocks < after.max_blocks ? before.max_blocks : after.max_blocks;
  l.max_bytes = before.max_bytes < after.max_bytes ? before.max_bytes : after.max_bytes;
  return l;
}

}  // namespace

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
    if (read_request(sock, limits_for(s), timeout, &req) != read_ok) break;
    bool end = false;
    reply r = dispatch(s, req, &end);
    if (!send_reply(sock, r) || end) break;
  }
  end_session(s);
}
