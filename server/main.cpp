// talvor-server: the command-line shell of the reference server.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iostream>
#include <string>

#include "catalog.h"
#include "server.h"

namespace {

void usage(FILE *to) {
  fprintf(to,
          "usage: talvor-server --data DIR [--port P] [--listen ADDR] [--max-clients N]\n"
          "                     [--progress ROWS] [--busy-timeout MS] [--program-timeout MS]\n"
          "       talvor-server --init-demo DIR\n"
          "       talvor-server --set-user DIR APPLICATION USER LEVEL   (password on stdin)\n"
          "\n"
          "Serves every DIR/NAME.db as application NAME: commands on port P (default\n"
          "20000), notify connections on P + 1, on 127.0.0.1 unless --listen says\n"
          "otherwise (0.0.0.0: every interface). --port 0 takes free ports. The first\n"
          "line on standard output is \"listening on ADDR:P:N\". SIGINT or SIGTERM stop\n"
          "the server; sessions' uncommitted changes are rolled back.\n");
}

// A whole decimal number within [lo, hi]. 1 with *out set.
int parse_number(const char *text, long lo, long hi, long *out) {
  if (text == nullptr || *text == '\0') return 0;
  char *end = nullptr;
  long v = strtol(text, &end, 10);
  if (*end != '\0' || v < lo || v > hi) return 0;
  *out = v;
  return 1;
}

int serve(const server_config &config) {
  // Signals are taken by this thread alone, through sigwait.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  std::string error;
  talvor_server *server = start_server(config, &error);
  if (server == nullptr) {
    fprintf(stderr, "talvor-server: %s\n", error.c_str());
    return 1;
  }
  printf("listening on %s\n", server_address(server).c_str());
  fflush(stdout);
  int sig = 0;
  sigwait(&stop_signals, &sig);
  stop_server(server);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    usage(stdout);
    return 0;
  }
  if (argc >= 2 && strcmp(argv[1], "--init-demo") == 0) {
    if (argc != 3) {
      usage(stderr);
      return 2;
    }
    std::string error;
    if (!init_demo(argv[2], &error)) {
      fprintf(stderr, "talvor-server: %s\n", error.c_str());
      return 1;
    }
    printf("demo application written to %s/demo.db; users:\n", argv[2]);
    for (const demo_user &u : demo_users)
      printf("  %-8s password %-12s level %d\n", u.name, u.password, u.level);
    return 0;
  }
  if (argc >= 2 && strcmp(argv[1], "--set-user") == 0) {
    long level;
    if (argc != 6 || !valid_application_name(argv[3]) || !parse_number(argv[5], 0, 2, &level)) {
      usage(stderr);
      return 2;
    }
    std::string password;
    if (!std::getline(std::cin, password)) {
      fprintf(stderr, "talvor-server: no password on standard input\n");
      return 1;
    }
    std::string error;
    std::string path = std::string(argv[2]) + "/" + argv[3] + ".db";
    if (!set_application_user(path, argv[4], password, static_cast<int>(level), &error)) {
      fprintf(stderr, "talvor-server: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }

  server_config config;
  bool have_data = false;
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    const char *val = i + 1 < argc ? argv[i + 1] : nullptr;
    long n = 0;
    bool ok = val != nullptr;
    if (opt == "--data" && ok) {
      config.data_dir = val;
      have_data = true;
    } else if (opt == "--listen" && ok) {
      config.listen_address = val;
    } else if (opt == "--port" && ok && parse_number(val, 0, 65534, &n)) {
      config.port = static_cast<int>(n);
    } else if (opt == "--max-clients" && ok && parse_number(val, 1, 100000, &n)) {
      config.max_clients = static_cast<int>(n);
    } else if (opt == "--progress" && ok && parse_number(val, 0, 1000000000, &n)) {
      config.progress_every = n;
    } else if (opt == "--busy-timeout" && ok && parse_number(val, 0, 600000, &n)) {
      config.busy_timeout_ms = static_cast<int>(n);
    } else if (opt == "--program-timeout" && ok && parse_number(val, 1, 3600000, &n)) {
      config.program_timeout_ms = static_cast<int>(n);
    } else {
      fprintf(stderr, "talvor-server: bad or incomplete option %s\n", opt.c_str());
      usage(stderr);
      return 2;
    }
    ++i;
  }
  if (!have_data) {
    usage(stderr);
    return 2;
  }
  return serve(config);
}
