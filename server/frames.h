// Requests and replies of one command connection, as whole units.
//
// A request is read completely (header and every block) before it is
// handled, within limits that bound what one request may make the server
// allocate. A reply is queued whole and leaves in one write.
#ifndef TALVOR_SERVER_FRAMES_H
#define TALVOR_SERVER_FRAMES_H

#include <stddef.h>
#include <time.h>

#include <string>
#include <vector>

class socket_t;

struct request {
  int code = 0;
  int announced = 0;                // block count of the header (-1: a list)
  std::vector<std::string> blocks;  // raw payloads, the END_OF_LIST marker left out
  bool ended_by_marker = false;     // the marker closed the blocks
};

struct request_limits {
  size_t max_blocks = 10000;                 // blocks in one request
  size_t max_bytes = 64u * 1024u * 1024u;    // payload bytes in one request
};

enum read_status {
  read_ok = 1,
  read_timeout = 0,   // the request did not arrive whole in time
  read_broken = -1    // connection failed, or the request broke a limit: stop
};

// Reads one request. timeout is in seconds, -1 for no limit; it applies to
// the arrival of the whole request, header and blocks. A garbled header (no
// numbers) is broken. The blocks of a count of 0 or more end early at a
// marker block, like any list.
int read_request(socket_t *sock, const request_limits &limits, time_t timeout, request *out);

struct reply {
  int code = 8;
  std::vector<std::string> blocks;  // texts; each travels with its NUL
};

// Queues and flushes a reply. 1 when the socket reports no error.
int send_reply(socket_t *sock, const reply &r);

// The text of a block: its bytes up to the first NUL.
std::string block_text(const std::string &block);
// A block holding a decimal integer as "%d" prints it (an optional sign,
// digits, the NUL). 1 with *value set; 0 for anything else.
int block_int(const std::string &block, long long *value);

#endif
