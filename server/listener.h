// Listening sockets for the server's two ports.
#ifndef TALVOR_SERVER_LISTENER_H
#define TALVOR_SERVER_LISTENER_H

#include <string>

class socket_t;

// Opens a TCP listener on an IPv4 address (a dotted address or a host name
// that resolves to one) and port; port 0 takes an ephemeral one. The
// socket library's own listener binds every interface, so it is used only
// for 0.0.0.0; any other address is bound here and the descriptor handed to
// the library. Returns the listener (its accept gives socket_t objects)
// with the port in *bound_port, or null with a message in *error.
socket_t *open_listener(const std::string &address, int port, int *bound_port, std::string *error);

// Switches off the delay of small segments on an accepted connection.
void set_no_delay(socket_t *sock);

#endif
