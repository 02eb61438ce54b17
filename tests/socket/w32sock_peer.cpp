// The other process of the local-socket tests: connects to the listener the
// test opened and then does what the first argument says.
//
//   w32sock_peer echo ADDRESS N   reads N bytes, writes them back, then waits
//                                 for one more byte (or the end) and exits 0
//   w32sock_peer exit ADDRESS     connects, writes one byte and exits without
//                                 closing, so the test sees a peer vanish
//   w32sock_peer serve ADDRESS N  listens at ADDRESS itself, accepts one
//                                 connection, echoes N bytes and exits
//                                 without reading more or closing
//
// The exit code says how far it got: 0 all done, 2 no connection, 3 a read
// failed, 4 a write failed, 1 bad arguments.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "w32sock.h"

int main(int argc, char **argv) {
  if (argc < 3) return 1;
  const char *mode = argv[1];
  if (strcmp(mode, "serve") == 0 && argc >= 4) {
    socket_t *l = socket_t::create_local(argv[2]);
    if (!l->is_ok()) return 2;
    socket_t *a = l->accept(60);
    if (a == nullptr) return 2;
    size_t n = strtoul(argv[3], nullptr, 10);
    std::vector<char> data(n);
    if (!a->read(data.data(), n)) return 3;
    if (!a->write(data.data(), n)) return 4;
    ExitProcess(0);
  }
  socket_t *s = socket_t::connect(argv[2], socket_t::sock_local_domain, 60, 1);
  if (s == nullptr) return 2;
  if (strcmp(mode, "exit") == 0) {
    if (!s->write("x", 1)) return 4;
    // No close: the test must learn of the end from the process alone.
    ExitProcess(0);
  }
  if (strcmp(mode, "echo") != 0 || argc < 4) return 1;
  size_t n = strtoul(argv[3], nullptr, 10);
  std::vector<char> data(n);
  if (!s->read(data.data(), n)) return 3;
  if (!s->write(data.data(), n)) return 4;
  char end;
  s->read(&end, 1);
  delete s;
  return 0;
}
