// Reading whole requests and writing whole replies over socket_t.
#include "frames.h"

#include <string.h>

#include <chrono>

#include "wire.h"
#include "sockio.h"

namespace {

// A block's bytes are taken in pieces of at most this many.
const size_t block_piece = 64 * 1024;

// Where a request's bytes come from: the socket, and for a timed request the
// moment by which all of it (header and blocks) must have arrived. Each
// wait is for whatever comes next, never for the whole rest, so a peer that
// trickles bytes cannot stretch the limit either.
struct source {
  socket_t *sock;
  bool timed;
  std::chrono::steady_clock::time_point deadline;
};

int take(source &src, void *buf, size_t n) {
  if (!src.timed) return src.sock->read(buf, n) ? read_ok : read_broken;
  char *p = static_cast<char *>(buf);
  size_t got = 0;
  while (got < n) {
    auto left = std::chrono::ceil<std::chrono::seconds>(src.deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return read_timeout;
    long r = src.sock->read(p + got, 1, n - got, static_cast<time_t>(left.count()));
    if (r < 0) return read_broken;
    if (r == 0) return read_timeout;
    got += static_cast<size_t>(r);
  }
  return read_ok;
}

// Reads one block under the request's remaining byte budget. The length is
// checked against the budget first, and the block then grows piece by piece
// as its bytes arrive: a peer that announces megabytes and sends a few makes
// the server hold a few, not what was announced.
int read_block(source &src, size_t *budget, std::string *out) {
  char field[block_length_field_size];
  int rc = take(src, field, sizeof(field));
  if (rc != read_ok) return rc;
  int len = 0;
  if (!decode_block_length(field, &len)) return read_broken;
  if (static_cast<size_t>(len) > *budget) return read_broken;
  *budget -= static_cast<size_t>(len);
  out->clear();
  size_t left = static_cast<size_t>(len);
  while (left > 0) {
    size_t piece = left < block_piece ? left : block_piece;
    size_t at = out->size();
    out->resize(at + piece);
    rc = take(src, &(*out)[at], piece);
    if (rc != read_ok) return rc;
    left -= piece;
  }
  return read_ok;
}

}  // namespace

int read_request(socket_t *sock, const request_limits &limits, time_t timeout, request *out) {
  out->code = 0;
  out->announced = 0;
  out->blocks.clear();
  out->ended_by_marker = false;

  source src{sock, timeout >= 0,
             std::chrono::steady_clock::now() + std::chrono::seconds(timeout >= 0 ? timeout : 0)};
  if (!src.timed) {
    if (!read_command_from_net(sock, &out->code, &out->announced)) return read_broken;
  } else {
    char header[command_header_size];
    memset(header, 0, sizeof(header));
    int rc = take(src, header, sizeof(header));
    if (rc != read_ok) return rc;
    // A header without numbers: the peer does not speak the protocol.
    if (!decode_command_header(header, &out->code, &out->announced)) return read_broken;
  }

  size_t budget = limits.max_bytes;
  for (long long n = 0; out->announced < 0 || n < out->announced; ++n) {
    if (out->blocks.size() >= limits.max_blocks) return read_broken;
    std::string block;
    int rc = read_block(src, &budget, &block);
    if (rc != read_ok) return rc;
    if (is_end_of_list(block.data(), static_cast<int>(block.size()))) {
      out->ended_by_marker = true;
      break;
    }
    out->blocks.push_back(std::move(block));
  }
  return read_ok;
}

int send_reply(socket_t *sock, const reply &r) {
  write_command_to_net(sock, r.code, static_cast<int>(r.blocks.size()));
  for (const std::string &b : r.blocks) {
    // c_str() carries the NUL that ends the text on the wire.
    s_write(sock, const_cast<char *>(b.c_str()), static_cast<int>(b.size() + 1));
  }
  sock->buffered_flush();
  return sock->is_ok();
}

std::string block_text(const std::string &block) {
  size_t nul = block.find('\0');
  return nul == std::string::npos ? block : block.substr(0, nul);
}

int block_int(const std::string &block, long long *value) {
  std::string t = block_text(block);
  // Only the block's own NUL may follow the number.
  if (t.size() + 1 != block.size() && t.size() != block.size()) return 0;
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) {
    negative = t[i] == '-';
    ++i;
  }
  if (i == t.size() || t.size() - i > 12) return 0;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return 0;
    v = v * 10 + (t[i] - '0');
  }
  *value = negative ? -v : v;
  return 1;
}
