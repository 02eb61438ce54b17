// The protocol's numbers: command codes, the reply codes the client knows,
// the handshake texts and the key that scrambles login passwords. The core,
// the communications thread, the servers and the tests all take them from
// here.
#ifndef TALVOR_COMM_PROTOCOL_H
#define TALVOR_COMM_PROTOCOL_H

#include <stddef.h>

enum talvor_command {
  command_disconnect = 1,      // ends the session; the thread reads the answer itself
  command_local_shutdown = 2,  // never sent to the server: the thread answers reply 2
  command_open_application = 3,
  command_delete_record = 40,
  command_bind_set = 47,
  command_set_value = 48,
  command_search = 54,
  command_get_value = 56,
  command_follow_up = 58,  // after every change
  command_total = 59,
  command_find_form = 75,
  command_remove_record = 78,
  command_sort = 85,
  command_set_position = 86,
  command_allocate_set = 109,
  command_login = 167,
  command_hello = 211,  // first handshake exchange
  command_version = 265,  // second handshake exchange
  command_create_record = 272,
  command_get_position = 273,
  command_reparent = 274,
  command_close_set = 299,
  command_run_program = 313,
  command_subset = 314,
  command_parent = 318
};

enum talvor_reply {
  reply_local_shutdown = 2,  // the thread's own answer to command 2
  reply_ok = 8,
  reply_number = 43,
  reply_value = 57,
  reply_progress = 84,        // dropped by the communications thread
  reply_search_ended = 123,   // open application: the search ends without a result
  reply_application = 144     // open application: accepted, like 43
};

// The one block of each handshake request, sent with its NUL.
static const char handshake_hello_text[] = "4";
static const char handshake_version_text[] = "211";

// The 17-byte key that scrambles login passwords, applied cyclically: byte i
// of the text with key[i % 17]. Every byte is non-zero.
enum { talvor_scramble_key_size = 17 };
static const unsigned char talvor_scramble_key[talvor_scramble_key_size] = {
    0x5a, 0x13, 0xc7, 0x2e, 0x91, 0x6b, 0x3d, 0xe4, 0x08,
    0x7f, 0xb2, 0x46, 0xd9, 0x1c, 0xa5, 0x60, 0xf3};

// Scrambles or unscrambles n bytes in place (the operation is its own inverse).
inline void talvor_scramble_bytes(unsigned char *bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) bytes[i] ^= talvor_scramble_key[i % talvor_scramble_key_size];
}

#endif
