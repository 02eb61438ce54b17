// Handshake, opening applications, login and commit.
#include <string.h>

#include <vector>

#include "protocol.h"
#include "database.h"
#include "handlers.h"
#include "reply_codes.h"
#include "server_shared.h"
#include "users.h"

namespace {

bool single_text(const request &req, const char *expected) {
  return req.blocks.size() == 1 && block_text(req.blocks[0]) == expected;
}

}  // namespace

reply handle_first_exchange(session &s, const request &req, bool *end) {
  if (!single_text(req, handshake_hello_text)) return fail(reply_bad_version);
  if (!s.greeted) {
    if (!s.shared->take_client_slot()) {
      // The client closes this connection and tries a new one.
      *end = true;
      return fail(reply_too_many_clients);
    }
    s.holds_client_slot = true;
    s.greeted = true;
  }
  return ok_reply();
}

reply handle_version(session &s, const request &req) {
  if (!s.greeted) return fail(reply_no_handshake);
  if (!single_text(req, handshake_version_text)) return fail(reply_bad_version);
  s.handshake_done = true;
  return ok_reply();
}

reply handle_open_application(session &s, const request &req) {
  if (req.blocks.size() != 2) return fail(reply_malformed);
  std::string name = block_text(req.blocks[0]);
  std::string path;
  int id = s.shared->cat.find_application(name, &path);
  // The client takes a negative id as "no such application".
  if (id < 0) return number_reply(-1);
  if (s.apps.count(id) != 0) return number_reply(id);
  if (s.apps.size() >= s.shared->settings.max_applications) return fail(reply_limit);

  std::unique_ptr<app_context> app(new app_context);
  app->app_id = id;
  app->name = name;
  app->owner = &s;
  if (!open_app_database(app.get(), path, s.shared->settings.busy_timeout_ms))
    return number_reply(-1);
  s.apps[id] = std::move(app);
  return number_reply(id);
}

reply handle_login(session &s, const request &req) {
  if (req.blocks.size() != 3) return fail(reply_malformed);
  long long id;
  if (!block_int(req.blocks[0], &id)) return fail(reply_malformed);
  auto it = s.apps.find(static_cast<int>(id));
  if (id < 1 || id > 0x7fffffff || it == s.apps.end()) return fail(reply_not_found);
  app_context *app = it->second.get();

  std::string user = block_text(req.blocks[1]);
  // The password arrives scrambled, as a text: its bytes up to the NUL.
  std::string scrambled = block_text(req.blocks[2]);
  std::vector<unsigned char> clear(scrambled.begin(), scrambled.end());
  talvor_scramble_bytes(clear.data(), clear.size());
  std::string password(clear.begin(), clear.end());

  int level = 0;
  bool ok = !user.empty() && check_user(app->db, user, password, &level);
  // Work begun under another identity is not carried over to this one.
  if (!ok || user != app->user) rollback_changes(app);
  if (!ok) {
    app->logged_in = false;
    app->user.clear();
    app->level = 0;
    return fail(reply_login_refused);
  }
  app->logged_in = true;
  app->user = user;
  app->level = level;
  return ok_reply({user, num(level)});
}

reply handle_commit(session &s, const request &req) {
  if (req.blocks.size() != 1) return fail(reply_malformed);
  reply r;
  app_context *app = session_app(s, req.blocks[0], 0, &r);
  if (app == nullptr) return r;
  int code = commit_changes(app);
  return code == reply_ok ? ok_reply() : fail(code);
}
