// The talvor command-line client, run as its own process against the
// in-process server: what it prints and the status it exits with.
#include <netinet/in.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "e2e/e2e_fixture.h"

namespace talvore2e {
namespace {

struct cli_result {
  int status = -1;  // exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

std::string shell_quoted(const std::string &s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string read_file(const std::string &path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class Cli : public EndToEnd {
 protected:
  // Runs talvor with these arguments after the connection options of the
  // demo user of `level`, feeding it `input`. Bounded by `timeout`.
  cli_result talvor(const std::vector<std::string> &args, const std::string &input = "",
                    int level = 2, bool with_login = true) {
    std::string in_path = dir_ + "/cli-input", err_path = dir_ + "/cli-stderr";
    std::ofstream(in_path) << input;
    std::string cmd = "timeout -k 5 60 " + shell_quoted(TALVOR_CLI_BINARY);
    if (with_login) {
      const demo_user &u = user_of_level(level);
      cmd += " -h " + shell_quoted(address_) + " -a demo -u " + shell_quoted(u.name) + " -p " +
             shell_quoted(u.password);
    }
    for (const std::string &a : args) cmd += " " + shell_quoted(a);
    cmd += " <" + shell_quoted(in_path) + " 2>" + shell_quoted(err_path);

    cli_result r;
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr) {
      ADD_FAILURE() << "cannot run " << cmd;
      return r;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    if (st != -1 && WIFEXITED(st)) r.status = WEXITSTATUS(st);
    r.err = read_file(err_path);
    return r;
  }
};

bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

TEST_F(Cli, SearchPrintsATableOfTheRecordsFound) {
  std::string city = db_value("SELECT city FROM customers WHERE name = 'Carlos Mendes'");
  cli_result r = talvor({"search customers 'name=Carlos Mendes' --fields name,city"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(contains(r.out, "1 record in customers")) << r.out;
  EXPECT_TRUE(contains(r.out, "| name          | city\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "1 | Carlos Mendes | " + city + "\n")) << r.out;
}

TEST_F(Cli, AScriptOnStandardInputWorksOnOneResultSet) {
  std::string status = db_value(
      "SELECT o.status FROM orders o JOIN customers c ON c.id = o.customer_id"
      " WHERE c.name = 'Carlos Mendes'");
  ASSERT_NE(status, "");
  cli_result r = talvor({}, "# a comment, then commands\n"
                            "search customers 'name=Carlos Mendes'\n"
                            "set city \"Vila Nova\"\n"
                            "\n"
                            "get city\n"
                            "sub orders --fields status\n"
                            "parent\n"
                            "get name\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "city set\nVila Nova\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "1 | " + status + "\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "the parent of set 1\nCarlos Mendes\n")) << r.out;
  EXPECT_EQ(db_value("SELECT city FROM customers WHERE name = 'Carlos Mendes'"), "Vila Nova");
}

TEST_F(Cli, FailuresExplainTheCodeAndExitNonZero) {
  struct failure {
    const char *what;
    std::vector<std::string> args;
    int level;
    int status;
    const char *message;
  };
  const failure cases[] = {
      {"unknown form", {"search suppliers"}, 2, 1, "(code 8: no such form)"},
      {"level too low", {"search customers", "delete"}, 0, 1, "(code 15: user level too low"},
      {"position 0", {"search customers", "goto 0"}, 2, 1, "(code 14: positions start at 1)"},
      {"unknown command", {"frobnicate"}, 2, 1, "frobnicate: unknown command"},
      {"missing argument", {"search customers", "set name"}, 2, 1, "usage: set FIELD VALUE"},
      {"unknown option", {"--bogus"}, 2, 2, "unknown option --bogus"},
  };
  for (const failure &c : cases) {
    SCOPED_TRACE(c.what);
    cli_result r = talvor(c.args, "", c.level);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(contains(r.err, c.message)) << r.err;
  }
  // A wrong password, without the fixture's login options.
  const demo_user &u = user_of_level(2);
  cli_result r = talvor({"-h", address_, "-a", "demo", "-u", u.name, "-p", "wrong", "search customers"},
                        "", 2, false);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "(code 9: login refused)")) << r.err;
}

TEST_F(Cli, AFailedCommandStopsTheRunUnlessKeepGoing) {
  std::string first = db_value("SELECT name FROM customers ORDER BY rowid LIMIT 1");
  std::vector<std::string> cmds = {"search customers", "goto 999", "get name"};
  cli_result stopped = talvor(cmds);
  EXPECT_EQ(stopped.status, 1) << stopped.err;
  EXPECT_TRUE(contains(stopped.err, "goto: cannot move to record 999 (code 7")) << stopped.err;
  EXPECT_FALSE(contains(stopped.out, first)) << stopped.out;

  cmds.insert(cmds.begin(), "-k");
  cli_result going = talvor(cmds);
  EXPECT_EQ(going.status, 1) << going.err;
  EXPECT_TRUE(contains(going.out, first + "\n")) << going.out;
}

// A loopback port nothing listens on: bound, read back and closed again.
int closed_port() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

TEST_F(Cli, AServerThatCannotBeReachedIsReported) {
  int port = closed_port();
  ASSERT_GT(port, 0);
  // The library tries for about ten seconds before it gives up.
  cli_result r = talvor({"-h", "127.0.0.1:" + std::to_string(port), "-a", "demo", "count"}, "",
                        2, false);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "connect: cannot reach 127.0.0.1:" + std::to_string(port) +
                                  " (code 3: could not connect to the server)"))
      << r.err;
}

TEST_F(Cli, HelpListsTheCommands) {
  cli_result r = talvor({"--help"}, "", 2, false);
  EXPECT_EQ(r.status, 0);
  for (const char *part : {"usage: talvor", "search FORM [TEXT]", "reparent SUBFORM|- SET",
                           "run PROGRAM [ARG]", "Exit status"})
    EXPECT_TRUE(contains(r.out, part)) << part;
}

}  // namespace
}  // namespace talvore2e
