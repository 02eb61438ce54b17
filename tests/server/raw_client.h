// A protocol-level client for driving the reference server in tests: the
// project's socket library and wire functions, no client core. Every read
// is bounded in time (a receive timeout on the socket), so a server that
// does not answer fails the test instead of hanging it.
#ifndef TALVOR_TESTS_SERVER_RAW_CLIENT_H
#define TALVOR_TESTS_SERVER_RAW_CLIENT_H

#include <string>
#include <vector>

class socket_t;

namespace talvortest {

struct raw_reply {
  bool ok = false;   // a whole reply arrived
  int code = 0;
  int count = 0;
  std::vector<std::string> blocks;  // texts: payload up to its NUL
  int progress = 0;                 // progress replies (84) skipped before it
};

class raw_client {
 public:
  // Connects to 127.0.0.1:port (or host:port).
  explicit raw_client(int port, const std::string &host = "127.0.0.1", int timeout_s = 10);
  ~raw_client();
  raw_client(const raw_client &) = delete;
  raw_client &operator=(const raw_client &) = delete;

  bool connected() const;
  // Sends a request of text blocks (each with its NUL). A list is sent with
  // count -1 and closed by the END_OF_LIST marker.
  bool send(int code, const std::vector<std::string> &blocks, bool list = false);
  // Sends bytes as they are.
  bool send_raw(const std::string &bytes);
  // Reads one reply. With skip_progress, progress replies are read, counted
  // and dropped first.
  raw_reply read(bool skip_progress = true);
  raw_reply call(int code, const std::vector<std::string> &blocks, bool list = false);
  // 1 when the server closed the connection (a read within timeout_s
  // seconds sees its end); 0 when it stays open and silent.
  bool closed_by_server(int timeout_s = 10);
  void close();

  // ---- the steps of a client session ----
  bool handshake();
  int open_application(const std::string &name);  // the id, -1 on refusal, -2 on failure
  raw_reply login(int app, const std::string &user, const std::string &password);
  int form(int app, const std::string &name);     // the form id or -1; -2 on failure
  int new_set(int app);                           // set id, -1 on failure
  // Looks the form up, allocates and binds a set and searches it. The
  // reply of the search (8 with count and lock) is left in *search.
  int search(int app, const std::string &form_name, const std::vector<std::string> &items,
             raw_reply *search = nullptr);
  // Handshake, open, login. The application id, or -1.
  int start(const std::string &app, const std::string &user, const std::string &password);

  raw_reply move(int app, int set, int position);
  raw_reply get(int app, int set, const std::string &field);
  raw_reply set_value(int app, int set, const std::string &field, const std::string &value);
  raw_reply commit(int app);
  raw_reply total(int app, int set);

 private:
  socket_t *sock_;
};

// The scrambled password as the client sends it.
std::string scramble(const std::string &password);

}  // namespace talvortest

#endif
