// A fixed number of TalvorTotal calls against an in-process script server,
// for counting system calls per operation:
//
//   strace -f -ff -o /tmp/st/t build/.../bench/syscall_loop 20000
//
// Prints the caller thread's id, so its trace file can be told from the
// relay's and the server's.
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "api.h"
#include "state.h"
#include "support/script_server.h"

using talvortest::Reply;
using talvortest::ScriptServer;
using talvortest::T;

int main(int argc, char **argv) {
  long n = argc > 1 ? atol(argv[1]) : 10000;
  ScriptServer server;
  Reply reply;
  reply.blocks = {T("42")};
  server.set_default(reply);
  std::string address = server.address();
  if (TalvorConnect(&address[0]) != 1) {
    fprintf(stderr, "connect failed\n");
    return 1;
  }
  ResultSetEntry *entry = (ResultSetEntry *)calloc(1, sizeof *entry);
  ResultSet[0] = entry;
  long bad = 0;
  for (long i = 0; i < n; ++i) {
    if (TalvorTotal(0) != 42) ++bad;
    if (i % 1024 == 0) server.clear();
  }
  ResultSet[0] = nullptr;
  free(entry);
  TalvorDisconnect();
  printf("caller %ld, %ld calls, %ld bad\n", (long)syscall(SYS_gettid), n, bad);
  return bad != 0;
}
