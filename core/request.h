// The request/reply pattern every operation shares: checks, sending a
// command of text blocks on the channel, and reading the reply.
//
// Each helper that can fail leaves its code in global_error and returns 0
// (or null); the operation then ends with its failure result.
#ifndef TALVOR_CORE_REQUEST_H
#define TALVOR_CORE_REQUEST_H

#include <string.h>

#include <initializer_list>

#include "protocol.h"
#include "state.h"
#include "wire.h"

// Level check: 1 when global_user_level >= needed, else code 15 and 0.
int require_level(int needed);
// Handle check: the entry of handle, or null with code 12 (outside 0..1023)
// or 11 (empty slot).
ResultSetEntry *require_entry(int handle);
// Live-connection check, made after the operation's own checks: 1 when a
// communications thread serves the channel, else code 18 and 0.
int require_connection();

// Sends a channel header (count -1: an open list closed by send_end_of_list).
void send_header(int command, int count);
void send_text(const char *text);  // null travels as the empty text
void send_number(int value);       // as "%d"
void send_end_of_list();

// Reads the reply header. 1 when the code is expected1 or expected2 (pass -1
// for none); else code 7 and 0. *code and *count receive the header when
// not null, whatever the outcome.
int read_reply(int expected1, int expected2 = -1, int *code = nullptr, int *count = nullptr);
// Reads one block as a new malloc'ed buffer of its length, or null (missing:
// length 0 or less, no memory, or a block the reply did not announce, which
// is never waited for). Sets no code. Blocks an operation leaves unread are
// drained before the next command.
char *read_block(int *len = nullptr);
// Forgets the unread rest of the last reply: its channel is gone.
void forget_reply();
// Reads one numeric block (atoi). 1 with *value set, or 0 with code 6.
int read_number(int *value);
// Reads one block and drops it. 1 when it was there.
int skip_block();
// Reads one block as a NUL-terminated text: a new malloc'ed copy that always
// ends in NUL, never reading past the block. Null when missing (no code set).
char *read_text_block();
// The follow-up command 58 after a change; its reply must be 8 (else code 7).
void send_follow_up(int application_id);

// Reads a decimal number as atoi does (blanks, a sign, digits; 0 when none),
// saturating at the int range instead of wrapping, as a 32-bit atoi does.
int read_int(const char *text);

// 1 when text, sent as a block with its NUL, would be the END_OF_LIST marker
// (which ends an open list wherever it stands). 0 for null.
inline int text_is_end_of_list(const char *text) {
  return text && is_end_of_list(text, (int)strlen(text) + 1);
}

// Unsendable-text check, made after the live-connection check: 1 when no
// text of the list is the END_OF_LIST marker, else code 19 and 0. Every peer
// takes that block for the end of a request wherever it stands, so the
// blocks after it would be read as a command of their own.
inline int require_sendable(std::initializer_list<const char *> texts) {
  for (const char *text : texts) {
    if (text_is_end_of_list(text)) {
      global_error = talvor_err_unsendable_text;
      return 0;
    }
  }
  return 1;
}

// Lowest empty slot of ResultSet, or -1.
int lowest_free_slot();
// A new malloc'ed empty text.
char *empty_text();

#endif
