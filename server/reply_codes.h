// Reply codes the server answers with.
//
// The codes the client expects (acknowledgement 8, number 43, field value
// 57, progress 84) are the protocol's own, in protocol.h. Every failure
// uses a code of its own so a raw
// client or a log can tell them apart; the client itself only sees "not the
// code it expected". Failure replies never carry blocks: the client reads
// no block of an unexpected reply, so any block would put it out of step.
#ifndef TALVOR_SERVER_REPLY_CODES_H
#define TALVOR_SERVER_REPLY_CODES_H

#include "protocol.h"

enum server_failure_code {
  reply_too_many_clients = 90,  // first exchange refused: every client slot is taken
  reply_bad_version = 91,       // handshake text or protocol version not supported
  reply_no_handshake = 92,      // a command before the handshake
  reply_unknown_command = 93,
  reply_malformed = 94,         // wrong number of blocks, or a block that is not a number
  reply_login_refused = 95,     // wrong user or password, or not logged in
  reply_not_permitted = 96,     // user level too low, or a change a set does not allow
  reply_not_found = 97,         // unknown application, set, form, field or record
  reply_out_of_range = 98,      // a position outside the set, or no current record
  reply_locked = 99,            // the record (or database) is held by another session
  reply_bad_item = 100,         // unusable search item, sort item or program text
  reply_database_error = 101,   // the database refused the change (constraint, I/O)
  reply_limit = 102             // a per-session limit was reached
};

#endif
