// SHA-256, for the salted password digests of the user table.
#ifndef TALVOR_SERVER_SHA256_H
#define TALVOR_SERVER_SHA256_H

#include <stddef.h>

#include <string>

// The digest of n bytes as 64 lower-case hex digits.
std::string sha256_hex(const void *data, size_t n);

#endif
