// The reference server, run inside a process: start it on a data directory,
// read its ports, stop it. talvor-server's main is a thin shell over this,
// and tests start it in-process the same way.
#ifndef TALVOR_SERVER_SERVER_H
#define TALVOR_SERVER_SERVER_H

#include <string>

struct server_config {
  std::string data_dir;                    // every NAME.db in it is application NAME
  std::string listen_address = "127.0.0.1";
  int port = 20000;                        // command port; notify is port + 1; 0: ephemeral
  int max_clients = 64;                    // sessions through the first exchange at once
  long progress_every = 10000;             // rows between progress replies; 0: none
  int handshake_timeout_s = 30;            // a new connection must greet within this
  int busy_timeout_ms = 2000;              // wait for another session's transaction
  int program_timeout_ms = 10000;          // longest run of one server program
};

class talvor_server;

// Starts listening on both ports and serving in background threads.
// Returns the running server, or null with a message in *error.
talvor_server *start_server(const server_config &config, std::string *error);
// The same with defaults: loopback, the given port (0: ephemeral).
talvor_server *start_server(const std::string &data_dir, int port, std::string *error = nullptr);

// The ports actually listened on.
int server_command_port(const talvor_server *server);
int server_notify_port(const talvor_server *server);
// "ADDRESS:COMMAND_PORT:NOTIFY_PORT", the form a client connects to.
std::string server_address(const talvor_server *server);

// Stops accepting, ends every session (what they left uncommitted is rolled
// back), waits for every thread, and frees the server. Null is ignored.
void stop_server(talvor_server *server);

// Writes the demo application DIR/demo.db (customers, their orders, order
// lines as subrecords of orders, and users of levels 0, 1 and 2). Refuses
// to overwrite. 1 on success, else 0 with a message in *error.
int init_demo(const std::string &dir, std::string *error);

// The users the demo application is created with.
struct demo_user {
  const char *name;
  const char *password;
  int level;
};
extern const demo_user demo_users[3];

// Adds or updates a user of the application file path. 1 on success.
int set_application_user(const std::string &path, const std::string &user,
                         const std::string &password, int level, std::string *error);

#endif
