// Two connected sockets of the library itself, over loopback TCP or a
// Unix-domain socket under /tmp, for tests that feed bytes to one end and
// watch what arrives at the other.
#ifndef TALVOR_TESTS_SOCKET_LOOPBACK_PAIR_H
#define TALVOR_TESTS_SOCKET_LOOPBACK_PAIR_H

#include <atomic>
#include <string>

#include "sockio.h"
#include "support/test_os.h"

namespace talvortest {

enum class Transport { tcp, unix_domain };

inline const char *transport_name(Transport t) { return t == Transport::tcp ? "Tcp" : "Unix"; }

// Port a listening TCP socket was given (it was opened on port 0).
inline int bound_port(socket_t *listener) {
  return bound_port_of(static_cast<int>(listener->MyGetActual()));
}

// An address text for a Unix-domain socket file no other test uses.
inline std::string unique_local_address() {
  static std::atomic<int> counter{0};
  return "talvor-test-" + std::to_string(process_id()) + "-" + std::to_string(counter++) + ":0";
}

// A read or write that blocks longer than this fails (EAGAIN) instead of
// hanging the test.
inline void bound_waits(socket_t *s) {
  int fd = static_cast<int>(s->MyGetActual());
  set_receive_timeout(fd, 10);
  set_send_timeout(fd, 10);
}

// Listener, connected client and accepted server end. Check ok() first.
struct LoopbackPair {
  socket_t *listener = nullptr;
  socket_t *client = nullptr;
  socket_t *server = nullptr;

  explicit LoopbackPair(Transport t) {
    if (t == Transport::tcp) {
      listener = socket_t::create_global("localhost:0");
      if (!listener->is_ok()) return;
      std::string addr = "127.0.0.1:" + std::to_string(bound_port(listener));
      client = socket_t::connect(addr.c_str(), socket_t::sock_global_domain, 1, 0);
    } else {
      std::string addr = unique_local_address();
      listener = socket_t::create_local(addr.c_str());
      if (!listener->is_ok()) return;
      client = socket_t::connect(addr.c_str(), socket_t::sock_local_domain, 1, 0);
    }
    if (client->is_ok()) server = listener->accept(10);
    if (server != nullptr) {
      bound_waits(client);
      bound_waits(server);
    }
  }
  ~LoopbackPair() {
    delete server;
    delete client;
    delete listener;
  }
  LoopbackPair(const LoopbackPair &) = delete;
  LoopbackPair &operator=(const LoopbackPair &) = delete;

  bool ok() const { return listener->is_ok() && client != nullptr && client->is_ok() && server; }
};

}  // namespace talvortest

#endif
