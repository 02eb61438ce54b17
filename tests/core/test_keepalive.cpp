// Both of the client's connections (command and notify) ask the kernel to
// probe an idle peer, with probe times short enough that a server host that
// vanished is noticed in about a minute rather than never.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include <map>
#include <string>

#include "api.h"
#include "channel.h"
#include "comm_thread.h"
#include "state.h"
#include "support/script_server.h"

using talvortest::ScriptServer;

namespace {

struct probe_settings {
  int keepalive = 0, idle = 0, interval = 0, count = 0;
};

int int_option(int fd, int level, int name) {
  int value = -1;
  socklen_t len = sizeof(value);
  if (getsockopt(fd, level, name, &value, &len) != 0) return -1;
  return value;
}

// This process's TCP sockets whose peer is a loopback port in ports, by
// that port: the client's ends of its connections to the test server.
std::map<int, probe_settings> client_ends(int port_a, int port_b) {
  std::map<int, probe_settings> found;
  DIR *dir = opendir("/proc/self/fd");
  if (!dir) return found;
  while (dirent *e = readdir(dir)) {
    int fd = atoi(e->d_name);
    if (e->d_name[0] == '.' || fd == dirfd(dir)) continue;
    sockaddr_in peer;
    socklen_t len = sizeof(peer);
    memset(&peer, 0, sizeof(peer));
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &len) != 0 || peer.sin_family != AF_INET)
      continue;
    int port = ntohs(peer.sin_port);
    if (port != port_a && port != port_b) continue;
    probe_settings s;
    s.keepalive = int_option(fd, SOL_SOCKET, SO_KEEPALIVE);
    s.idle = int_option(fd, IPPROTO_TCP, TCP_KEEPIDLE);
    s.interval = int_option(fd, IPPROTO_TCP, TCP_KEEPINTVL);
    s.count = int_option(fd, IPPROTO_TCP, TCP_KEEPCNT);
    found[port] = s;
  }
  closedir(dir);
  return found;
}

TEST(KeepAlive, CommandAndNotifyConnectionsProbeAVanishedServer) {
  ScriptServer server;
  std::string address = server.address();
  ASSERT_EQ(1, TalvorConnect(&address[0]));

  std::map<int, probe_settings> ends = client_ends(server.port(), server.notify_port());
  EXPECT_EQ(1u, ends.count(server.port())) << "command connection not found";
  EXPECT_EQ(1u, ends.count(server.notify_port())) << "notify connection not found";
  for (const auto &e : ends) {
    const probe_settings &s = e.second;
    EXPECT_NE(0, s.keepalive) << "port " << e.first;
    // The kernel's defaults (two hours idle) would notice nothing in time.
    EXPECT_GT(s.idle, 0) << "port " << e.first;
    EXPECT_GT(s.interval, 0) << "port " << e.first;
    EXPECT_GT(s.count, 0) << "port " << e.first;
    EXPECT_LE(s.idle + s.interval * s.count, 120) << "port " << e.first;
  }

  TalvorDisconnect();
  wait_for_threads_to_end(5000);
  stop_communications();
}

}  // namespace
