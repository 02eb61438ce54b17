// The 17-byte key that scrambles login passwords. Client and server must
// agree on it; the reference and test servers include this header to undo
// the scrambling. Applied cyclically: byte i of the text with key[i % 17].
#ifndef TALVOR_CORE_SCRAMBLE_KEY_H
#define TALVOR_CORE_SCRAMBLE_KEY_H

#include <stddef.h>

enum { talvor_scramble_key_size = 17 };

// Every byte non-zero.
static const unsigned char talvor_scramble_key[talvor_scramble_key_size] = {
    0x5a, 0x13, 0xc7, 0x2e, 0x91, 0x6b, 0x3d, 0xe4, 0x08,
    0x7f, 0xb2, 0x46, 0xd9, 0x1c, 0xa5, 0x60, 0xf3};

// Scrambles or unscrambles n bytes in place (the operation is its own inverse).
inline void talvor_scramble_bytes(unsigned char *bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) bytes[i] ^= talvor_scramble_key[i % talvor_scramble_key_size];
}

#endif
