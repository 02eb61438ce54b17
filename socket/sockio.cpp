// What every socket_t shares whatever its transport.
#include "sockio.h"

#include <stdlib.h>

void socket_t::discard_queue() {
  free(buffer);
  buffer = nullptr;
  buffer_size = 0;
}
