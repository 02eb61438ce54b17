// talvor: a command-line client of a Talvor server.
//
//   talvor [-h HOST[:PORT[:NOTIFYPORT]]] -a APP -u USER -p PASSWORD [COMMAND...]
//
// Each COMMAND argument is one command line; without any, command lines are
// read from a file (-f) or standard input, one per line. All commands of a
// run share one connection, so later ones work on the sets earlier ones
// opened.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <iostream>
#include <fstream>
#include <string>
#include <vector>

#include "commands.h"
#include "session.h"
#include "words.h"

namespace {

enum { exit_ok = 0, exit_failed = 1, exit_usage = 2 };

void usage(FILE *to) {
  fprintf(to,
          "usage: talvor [OPTIONS] [COMMAND...]\n"
          "\n"
          "Options:\n"
          "  -h, --host HOST[:PORT[:NOTIFYPORT]]  server address (default localhost, port 20000)\n"
          "  -a, --app APPLICATION                application to open\n"
          "  -u, --user USER                      user name\n"
          "  -p, --password PASSWORD              password (or set TALVOR_PASSWORD)\n"
          "  -f, --file FILE                      read command lines from FILE (- : stdin)\n"
          "  -e, --echo                           print each command line before its output\n"
          "  -k, --keep-going                     go on after a command fails\n"
          "      --help                           this text\n"
          "\n"
          "Each COMMAND argument is one command line, for example\n"
          "  talvor -a demo -u clerk -p counter-42 'search customers city=Lyon --fields name,city'\n"
          "Without COMMAND arguments command lines are read from standard input, one\n"
          "per line ('#' starts a comment). Words are split on blanks; quote a word\n"
          "holding blanks with '...' or \"...\". Search texts are items like\n"
          "name=Al* or credit_limit>=5000, several joined by %%.\n"
          "\n");
  print_commands(to);
  fprintf(to,
          "\n"
          "Exit status: 0 when every command succeeded, 1 when one failed (the run\n"
          "stops there unless -k), 2 for a usage error.\n");
}

struct run_plan {
  cli_options options;
  std::vector<std::string> lines;  // command lines given as arguments
  std::string file;                // else read from here ("-": stdin)
};

// Parses the command line. Returns -1 to go on, else the exit status.
int parse_command_line(int argc, char **argv, run_plan *plan) {
  cli_options &o = plan->options;
  int i = 1;
  for (; i < argc; ++i) {
    std::string opt = argv[i];
    if (opt == "--") {
      ++i;
      break;
    }
    if (opt == "--help") {
      usage(stdout);
      return exit_ok;
    }
    if (opt.empty() || opt[0] != '-') break;
    if (opt == "-e" || opt == "--echo") {
      o.echo = true;
      continue;
    }
    if (opt == "-k" || opt == "--keep-going") {
      o.keep_going = true;
      continue;
    }
    std::string *target = nullptr;
    if (opt == "-h" || opt == "--host") {
      target = &o.host;
    } else if (opt == "-a" || opt == "--app") {
      target = &o.app;
    } else if (opt == "-u" || opt == "--user") {
      target = &o.user;
      o.have_user = true;
    } else if (opt == "-p" || opt == "--password") {
      target = &o.password;
      o.have_password = true;
    } else if (opt == "-f" || opt == "--file") {
      target = &plan->file;
    } else {
      fprintf(stderr, "talvor: unknown option %s (see --help)\n", opt.c_str());
      return exit_usage;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "talvor: %s needs a value (see --help)\n", opt.c_str());
      return exit_usage;
    }
    *target = argv[++i];
  }
  for (; i < argc; ++i) plan->lines.push_back(argv[i]);
  if (!plan->lines.empty() && !plan->file.empty()) {
    fprintf(stderr, "talvor: give commands as arguments or with -f, not both\n");
    return exit_usage;
  }
  if (plan->file.empty() && plan->lines.empty()) plan->file = "-";
  if (!o.have_password) {
    const char *env = getenv("TALVOR_PASSWORD");
    if (env) {
      o.password = env;
      o.have_password = true;
    }
  }
  return -1;
}

// Runs the command lines as they come. `interactive` prompts and never
// stops early. Returns whether every command succeeded.
template <typename NextLine>
bool run_lines(session &s, NextLine next_line, bool interactive) {
  bool all_ok = true;
  std::string line;
  for (;;) {
    if (interactive) {
      fputs("talvor> ", stdout);
      fflush(stdout);
    }
    if (!next_line(&line)) break;
    if (is_blank_or_comment(line)) continue;
    if (s.options().echo) printf("> %s\n", line.c_str());
    std::vector<std::string> words;
    std::string error;
    bool ok;
    if (!split_words(line, &words, &error)) {
      fflush(stdout);
      fprintf(stderr, "talvor: %s in: %s\n", error.c_str(), line.c_str());
      ok = false;
    } else if (is_quit(words)) {
      break;
    } else {
      ok = run_command(s, words);
    }
    fflush(stdout);
    if (!ok) {
      all_ok = false;
      if (!interactive && !s.options().keep_going) break;
    }
  }
  if (interactive) fputc('\n', stdout);
  return all_ok;
}

}  // namespace

int main(int argc, char **argv) {
  run_plan plan;
  int status = parse_command_line(argc, argv, &plan);
  if (status >= 0) return status;

  session s(plan.options);
  bool ok;
  if (!plan.lines.empty()) {
    size_t next = 0;
    ok = run_lines(
        s,
        [&](std::string *line) {
          if (next >= plan.lines.size()) return false;
          *line = plan.lines[next++];
          return true;
        },
        false);
  } else if (plan.file == "-") {
    bool interactive = isatty(STDIN_FILENO) != 0;
    ok = run_lines(
        s, [](std::string *line) { return static_cast<bool>(std::getline(std::cin, *line)); },
        interactive);
  } else {
    std::ifstream in(plan.file);
    if (!in) {
      fprintf(stderr, "talvor: cannot read %s\n", plan.file.c_str());
      return exit_usage;
    }
    ok = run_lines(
        s, [&in](std::string *line) { return static_cast<bool>(std::getline(in, *line)); }, false);
  }
  s.disconnect();
  fflush(stdout);
  return ok ? exit_ok : exit_failed;
}
