// Listeners, connection threads and their orderly stop.
#include "server.h"

#include <sys/socket.h>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "listener.h"
#include "server_shared.h"
#include "session.h"
#include "sockio.h"

namespace {

// Connections beyond the client slots that may wait for their first
// exchange (to be refused) or hold a notify connection.
const int spare_connections = 16;

struct connection {
  long id = 0;
  int fd = -1;  // -1 once the socket is closed; guarded by the server's mutex
  std::thread thread;
  std::atomic<bool> done{false};
};

}  // namespace

class talvor_server {
 public:
  explicit talvor_server(const server_config &c) : config(c), shared(c.data_dir) {}

  server_config config;
  server_shared shared;
  socket_t *command_listener = nullptr;
  socket_t *notify_listener = nullptr;
  int command_port = 0;
  int notify_port = 0;
  std::atomic<bool> stopping{false};
  std::thread command_acceptor;
  std::thread notify_acceptor;

  std::mutex mutex;
  std::list<std::unique_ptr<connection>> connections;
  long next_id = 1;
  int open_command = 0;
  int open_notify = 0;

  void accept_loop(socket_t *listener, bool command);
  void serve(connection *c, socket_t *sock, bool command);
  void reap();
};

namespace {

// Holds a notify connection until the client closes it; nothing is sent on it.
void hold_notify(socket_t *sock) {
  char sink[256];
  while (sock->read(sink, 1, sizeof(sink), -1) > 0) {
  }
}

}  // namespace

void talvor_server::serve(connection *c, socket_t *sock, bool command) {
  if (command)
    run_session(&shared, sock, c->id);
  else
    hold_notify(sock);
  {
    // Forget the descriptor before it is closed, so stop never touches a
    // number the system may already have reused.
    std::lock_guard<std::mutex> g(mutex);
    c->fd = -1;
    if (command)
      --open_command;
    else
      --open_notify;
  }
  delete sock;
  c->done = true;
}

void talvor_server::reap() {
  std::list<std::unique_ptr<connection>> finished;
  {
    std::lock_guard<std::mutex> g(mutex);
    for (auto it = connections.begin(); it != connections.end();) {
      if ((*it)->done) {
        finished.push_back(std::move(*it));
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto &c : finished) c->thread.join();
}

void talvor_server::accept_loop(socket_t *listener, bool command) {
  int limit = config.max_clients + spare_connections;
  while (!stopping) {
    // A bounded wait, so a stop is seen even if its wake-up call is lost.
    socket_t *sock = listener->accept(1);
    reap();
    if (sock == nullptr) {
      if (!stopping && !listener->is_ok()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    set_no_delay(sock);
    std::unique_ptr<connection> c(new connection);
    connection *raw = c.get();
    {
      std::lock_guard<std::mutex> g(mutex);
      int &open = command ? open_command : open_notify;
      if (stopping || open >= limit) {
        delete sock;
        continue;
      }
      ++open;
      c->id = next_id++;
      c->fd = static_cast<int>(sock->MyGetActual());
      try {
        c->thread = std::thread(&talvor_server::serve, this, raw, sock, command);
      } catch (const std::system_error &) {
        --open;
        delete sock;
        continue;
      }
      connections.push_back(std::move(c));
    }
  }
}

talvor_server *start_server(const server_config &config, std::string *error) {
  std::string scratch;
  if (error == nullptr) error = &scratch;
  if (config.port < 0 || config.port > 65534) {
    *error = "the port must lie in 0 to 65534 (the notify port is the next one)";
    return nullptr;
  }
  std::unique_ptr<talvor_server> s(new talvor_server(config));
  session_settings &st = s->shared.settings;
  st.max_clients = config.max_clients;
  st.progress_every = config.progress_every;
  st.handshake_timeout_s = config.handshake_timeout_s;
  st.busy_timeout_ms = config.busy_timeout_ms;
  st.program_timeout_ms = config.program_timeout_ms;

  // An ephemeral command port needs a free neighbour for notify: retry
  // until a pair is found.
  for (int attempt = 0; attempt < 100; ++attempt) {
    s->command_listener = open_listener(config.listen_address, config.port, &s->command_port, error);
    if (s->command_listener == nullptr) return nullptr;
    if (s->command_port > 0 && s->command_port < 65535) {
      s->notify_listener =
          open_listener(config.listen_address, s->command_port + 1, &s->notify_port, error);
      if (s->notify_listener != nullptr) break;
    }
    delete s->command_listener;
    s->command_listener = nullptr;
    if (config.port != 0) return nullptr;
  }
  if (s->notify_listener == nullptr) {
    *error = "no free pair of ports found";
    return nullptr;
  }
  talvor_server *srv = s.get();
  try {
    s->command_acceptor = std::thread(&talvor_server::accept_loop, srv, s->command_listener, true);
    s->notify_acceptor = std::thread(&talvor_server::accept_loop, srv, s->notify_listener, false);
  } catch (const std::system_error &) {
    *error = "cannot start threads";
    s->stopping = true;
    if (s->command_acceptor.joinable()) {
      s->command_listener->cancel_accept();
      s->command_acceptor.join();
    }
    delete s->command_listener;
    delete s->notify_listener;
    return nullptr;
  }
  return s.release();
}

talvor_server *start_server(const std::string &data_dir, int port, std::string *error) {
  server_config c;
  c.data_dir = data_dir;
  c.port = port;
  return start_server(c, error);
}

int server_command_port(const talvor_server *server) { return server->command_port; }
int server_notify_port(const talvor_server *server) { return server->notify_port; }

std::string server_address(const talvor_server *server) {
  return server->config.listen_address + ":" + std::to_string(server->command_port) + ":" +
         std::to_string(server->notify_port);
}

void stop_server(talvor_server *server) {
  if (server == nullptr) return;
  server->stopping = true;
  for (socket_t *listener : {server->command_listener, server->notify_listener}) {
    listener->cancel_accept();
    // The library wakes a blocked accept through 127.0.0.1, which a
    // listener on another address never hears; shutting the listening
    // descriptor down wakes it on any address.
    ::shutdown(static_cast<int>(listener->MyGetActual()), SHUT_RDWR);
  }
  server->command_acceptor.join();
  server->notify_acceptor.join();
  {
    // Wakes every session and notify holder blocked on its connection.
    std::lock_guard<std::mutex> g(server->mutex);
    for (auto &c : server->connections) {
      if (c->fd >= 0) ::shutdown(c->fd, SHUT_RDWR);
    }
  }
  std::list<std::unique_ptr<connection>> all;
  {
    std::lock_guard<std::mutex> g(server->mutex);
    all.swap(server->connections);
  }
  for (auto &c : all) c->thread.join();
  delete server->command_listener;
  delete server->notify_listener;
  delete server;
}
