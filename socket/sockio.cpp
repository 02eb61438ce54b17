// What every socket_t shares whatever its transport.
#include "sockio.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

void socket_t::discard_queue() {
  free(buffer);
  buffer = nullptr;
  buffer_size = 0;
}

long socket_t::queue_bytes(const void *buf, size_t size) {
  if (size == 0) return 0;
  if (buf == nullptr || size > static_cast<size_t>(LONG_MAX - buffer_size)) return -1;
  char *grown = static_cast<char *>(realloc(buffer, static_cast<size_t>(buffer_size) + size));
  if (grown == nullptr) return -1;  // the old queue stays whole
  memcpy(grown + buffer_size, buf, size);
  buffer = grown;
  buffer_size += static_cast<long>(size);
  return static_cast<long>(size);
}

void socket_t::flush_queue() {
  // An empty queue has nothing to send; writing zero bytes would wrongly
  // mark a sound connection as broken.
  if (buffer_size > 0) write(buffer, static_cast<size_t>(buffer_size));
  discard_queue();
}

int split_socket_address(const char *address, char host[socket_max_host_length + 1], unsigned short *port) {
  if (address == nullptr) return 0;
  const char *colon = strchr(address, ':');
  if (colon == nullptr) return 0;
  size_t host_len = static_cast<size_t>(colon - address);
  if (host_len > static_cast<size_t>(socket_max_host_length)) return 0;
  const char *p = colon + 1;
  if (*p < '0' || *p > '9') return 0;
  unsigned long value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + static_cast<unsigned long>(*p - '0');
    if (value > 65535) return 0;
    ++p;
  }
  memcpy(host, address, host_len);
  host[host_len] = '\0';
  *port = static_cast<unsigned short>(value);
  return 1;
}
