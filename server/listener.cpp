// Binding the listeners and tuning accepted connections.
#include "listener.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "unisock.h"

namespace {

const int backlog = 64;

int resolve_ipv4(const std::string &address, in_addr *out) {
  if (inet_pton(AF_INET, address.c_str(), out) == 1) return 1;
  addrinfo hints;
  memset(&hints, 0, sizeof(hints));
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *res = nullptr;
  if (getaddrinfo(address.c_str(), nullptr, &hints, &res) != 0 || res == nullptr) return 0;
  *out = reinterpret_cast<sockaddr_in *>(res->ai_addr)->sin_addr;
  freeaddrinfo(res);
  return 1;
}

int local_port(int fd) {
  sockaddr_in sin;
  socklen_t len = sizeof(sin);
  if (getsockname(fd, reinterpret_cast<sockaddr *>(&sin), &len) != 0) return -1;
  return ntohs(sin.sin_port);
}

}  // namespace

socket_t *open_listener(const std::string &address, int port, int *bound_port,
                        std::string *error) {
  if (address == "0.0.0.0") {
    std::string bound = "0.0.0.0:" + std::to_string(port);
    socket_t *sock = socket_t::create_global(bound.c_str(), backlog);
    if (!sock->is_ok()) {
      char text[256];
      sock->get_error_text(text, sizeof(text));
      text[sizeof(text) - 1] = '\0';
      *error = "cannot listen on " + bound + ": " + text;
      delete sock;
      return nullptr;
    }
    *bound_port = local_port(static_cast<int>(sock->MyGetActual()));
    return sock;
  }

  in_addr ip;
  if (!resolve_ipv4(address, &ip)) {
    *error = "cannot resolve listen address " + address;
    return nullptr;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + strerror(errno);
    return nullptr;
  }
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in sin;
  memset(&sin, 0, sizeof(sin));
  sin.sin_family = AF_INET;
  sin.sin_addr = ip;
  sin.sin_port = htons(static_cast<unsigned short>(port));
  if (::bind(fd, reinterpret_cast<sockaddr *>(&sin), sizeof(sin)) != 0 ||
      ::listen(fd, backlog) != 0) {
    *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + strerror(errno);
    ::close(fd);
    return nullptr;
  }
  *bound_port = local_port(fd);
  return new unix_socket(static_cast<long>(fd));
}

void set_no_delay(socket_t *sock) {
  int on = 1;
  setsockopt(static_cast<int>(sock->MyGetActual()), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}
