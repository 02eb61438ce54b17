// Replies and the lookups every handler starts with.
#include <stdio.h>

#include "catalog.h"
#include "handlers.h"
#include "reply_codes.h"
#include "server_shared.h"

reply fail(int code) {
  reply r;
  r.code = code;
  return r;
}

reply ok_reply(std::vector<std::string> blocks) {
  reply r;
  r.code = reply_ok;
  r.blocks = std::move(blocks);
  return r;
}

std::string num(long long n) {
  char buf[32];
  snprintf(buf, sizeof(buf), "%lld", n);
  return buf;
}

reply number_reply(long long n) {
  reply r;
  r.code = reply_number;
  r.blocks.push_back(num(n));
  return r;
}

app_context *session_app(session &s, const std::string &block, int min_level, reply *r) {
  long long id;
  if (!block_int(block, &id)) {
    *r = fail(reply_malformed);
    return nullptr;
  }
  auto it = s.apps.find(static_cast<int>(id));
  if (id < 1 || id > 0x7fffffff || it == s.apps.end()) {
    *r = fail(reply_not_found);
    return nullptr;
  }
  app_context *app = it->second.get();
  if (!app->logged_in) {
    *r = fail(reply_login_refused);
    return nullptr;
  }
  if (app->level < min_level) {
    *r = fail(reply_not_permitted);
    return nullptr;
  }
  return app;
}

record_set *session_set(session &s, const app_context *app, const std::string &block, reply *r) {
  long long id;
  if (!block_int(block, &id)) {
    *r = fail(reply_malformed);
    return nullptr;
  }
  auto it = s.sets.find(static_cast<int>(id));
  if (id < 1 || id > 0x7fffffff || it == s.sets.end() || it->second.app_id != app->app_id) {
    *r = fail(reply_not_found);
    return nullptr;
  }
  if (it->second.form_id < 0) {
    *r = fail(reply_not_found);
    return nullptr;
  }
  return &it->second;
}

bool resolve(session &s, const request &req, size_t blocks, int min_level, app_context **app,
             record_set **set, reply *r, size_t app_index) {
  if (req.blocks.size() != blocks) {
    *r = fail(reply_malformed);
    return false;
  }
  *app = session_app(s, req.blocks[app_index], min_level, r);
  if (*app == nullptr) return false;
  *set = session_set(s, *app, req.blocks[app_index + 1], r);
  return *set != nullptr;
}

int current_rowid(const record_set &set, int64_t *rowid) {
  if (set.current < 0 || static_cast<size_t>(set.current) >= set.rows.size()) return 0;
  *rowid = set.rows[static_cast<size_t>(set.current)];
  return 1;
}

int lock_state(session &s, const record_set &set, long i) {
  if (i < 0 || static_cast<size_t>(i) >= set.rows.size()) return 0;
  return s.shared->cat.record_locked(set.app_id, set.table, set.rows[static_cast<size_t>(i)], s.id);
}

record_set *new_set(session &s, int app_id) {
  if (s.sets.size() >= s.shared->settings.max_sets || s.next_set_id == 0x7fffffff) return nullptr;
  int id = s.next_set_id++;
  record_set &set = s.sets[id];
  set.id = id;
  set.app_id = app_id;
  return &set;
}

void remove_at(record_set &set, long i) {
  if (i < 0 || static_cast<size_t>(i) >= set.rows.size()) return;
  set.rows.erase(set.rows.begin() + i);
  if (set.current > i) --set.current;
  if (set.current >= static_cast<long>(set.rows.size()))
    set.current = static_cast<long>(set.rows.size()) - 1;
}

void forget_row(session &s, int app_id, const std::string &table, int64_t rowid) {
  for (auto &entry : s.sets) {
    record_set &set = entry.second;
    if (set.app_id != app_id || set.table != table) continue;
    for (size_t i = 0; i < set.rows.size(); ++i) {
      if (set.rows[i] == rowid) {
        remove_at(set, static_cast<long>(i));
        break;
      }
    }
  }
}
