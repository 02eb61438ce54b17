// The state of one talvor run: how to reach the server and log in, and the
// result sets opened so far, the last one being the current one.
#ifndef TALVOR_EXAMPLES_TALVOR_SESSION_H
#define TALVOR_EXAMPLES_TALVOR_SESSION_H

#include <string>
#include <vector>

struct cli_options {
  std::string host = "localhost";
  std::string app;
  std::string user;
  std::string password;
  bool have_user = false;
  bool have_password = false;
  bool echo = false;        // print each command before its output
  bool keep_going = false;  // go on after a failed command
};

struct open_set {
  int handle;
  std::string label;                // what it holds, for messages
  std::vector<std::string> fields;  // the columns `list` shows by default
};

class session {
 public:
  explicit session(const cli_options &options) : options_(options) {}
  ~session();
  session(const session &) = delete;
  session &operator=(const session &) = delete;

  const cli_options &options() const { return options_; }

  // Connects on first use. True when a connection is up; otherwise the
  // reason has been printed.
  bool connect();
  void disconnect();

  // The current result set, or null (with a message) when none is open.
  open_set *current(const char *command);
  // The open set with this handle, or null.
  open_set *find(int handle);
  // Adds a set and makes it current.
  void add(const open_set &set);
  // Makes the set with this handle current. False when it is not open.
  bool use(int handle);
  // Forgets the set with this handle (after it was closed).
  void forget(int handle);
  const std::vector<open_set> &sets() const { return sets_; }

 private:
  cli_options options_;
  bool connected_ = false;
  std::vector<open_set> sets_;
};

// Prints "talvor: COMMAND: WHAT (code N: meaning)" on standard error and
// returns false, so a command can `return failed(...)`.
bool failed(const std::string &command, const std::string &what, int code);
// Prints "talvor: COMMAND: WHAT" on standard error and returns false.
bool refused(const std::string &command, const std::string &what);

// A writable copy of a text for the library's char* parameters (it may
// change what it is given, as set value trims its value in place).
class c_text {
 public:
  explicit c_text(const std::string &text) : buffer_(text.begin(), text.end()) {
    buffer_.push_back('\0');
  }
  char *get() { return buffer_.data(); }

 private:
  std::vector<char> buffer_;
};

// Takes a malloc'ed text from the library: its copy, the block freed.
std::string take_text(char *text);

#endif
