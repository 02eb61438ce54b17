// The command handlers, one group per file, and what they share.
//
// Every handler checks its block count and numbers first and answers a
// failure code with no blocks for anything it cannot serve; a success
// carries exactly the blocks the client reads for that command.
#ifndef TALVOR_SERVER_HANDLERS_H
#define TALVOR_SERVER_HANDLERS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "frames.h"
#include "session.h"

// ---- replies ----
reply fail(int code);
reply ok_reply(std::vector<std::string> blocks = {});
reply number_reply(long long n);
std::string num(long long n);

// ---- lookups, each filling *r with the failure when it returns null ----

// The open application of a block whose user is logged in with at least
// min_level.
app_context *session_app(session &s, const std::string &block, int min_level, reply *r);
// A record set of this session and application, bound to a form.
record_set *session_set(session &s, const app_context *app, const std::string &block, reply *r);
// Checks that the request has exactly `blocks` blocks, then resolves the
// application (at min_level) and the set of blocks app_index and
// app_index + 1. False with the failure in *r.
bool resolve(session &s, const request &req, size_t blocks, int min_level, app_context **app,
             record_set **set, reply *r, size_t app_index = 0);
// The rowid of the set's current record. 0 when there is none.
int current_rowid(const record_set &set, int64_t *rowid);
// 1 when another session holds the record at index i of the set.
int lock_state(session &s, const record_set &set, long i);
// A new empty record set of the application, or null at the session limit.
record_set *new_set(session &s, int app_id);
// Takes a row out of every set of the session that holds it, keeping each
// set's current index in range.
void forget_row(session &s, int app_id, const std::string &table, int64_t rowid);
// Removes the element at index i of a set; the record after it becomes
// current, or the new last one.
void remove_at(record_set &set, long i);

// ---- connection and login: 211, 265, 3, 167, 58 ----
reply handle_first_exchange(session &s, const request &req, bool *end);
reply handle_version(session &s, const request &req);
reply handle_open_application(session &s, const request &req);
reply handle_login(session &s, const request &req);
reply handle_commit(session &s, const request &req);

// ---- forms and sets: 75, 109, 47, 54, 85, 299 ----
reply handle_form_lookup(session &s, const request &req);
reply handle_allocate_set(session &s, const request &req);
reply handle_bind_set(session &s, const request &req);
reply handle_search(session &s, const request &req);
reply handle_sort(session &s, const request &req);
reply handle_close_set(session &s, const request &req);

// ---- records: 59, 86, 273, 56, 48, 272, 78, 40 ----
reply handle_total(session &s, const request &req);
reply handle_move(session &s, const request &req);
reply handle_position(session &s, const request &req);
reply handle_get_value(session &s, const request &req);
reply handle_set_value(session &s, const request &req);
reply handle_create(session &s, const request &req);
reply handle_remove(session &s, const request &req);
reply handle_delete(session &s, const request &req);

// ---- subforms: 314, 318, 274 ----
reply handle_subset(session &s, const request &req);
reply handle_parent(session &s, const request &req);
reply handle_reparent(session &s, const request &req);

// ---- programs: 313 ----
reply handle_program(session &s, const request &req);

#endif
