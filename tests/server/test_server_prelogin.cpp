// Before a session has logged in, its requests get little room: a client
// that has given no password cannot make the server take in megabytes.
#include <string>

#include "server/server_fixture.h"
#include "wire.h"

namespace talvortest {
namespace {

using ServerBeforeLogin = ReferenceServer;

// A text well past what a handshake or a login needs, and well within what
// a logged-in session may send.
const std::string big_text(100 * 1024, 'n');

TEST_F(ServerBeforeLogin, LargeRequestBeforeLoginEndsTheConnection) {
  raw_client c(port_);
  ASSERT_TRUE(c.connected());
  ASSERT_TRUE(c.handshake());
  raw_reply r = c.call(3, {big_text, "0"});  // open an application by that name
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(c.closed_by_server());
}

TEST_F(ServerBeforeLogin, SameRequestAfterLoginIsAnswered) {
  int app = 0;
  std::unique_ptr<raw_client> c = session("reader", reader_password, &app);
  ASSERT_TRUE(c);
  // Looking up a form by that name: no such form, but an answer.
  EXPECT_EQ(-1, c->form(app, big_text));
  EXPECT_GT(c->form(app, "customers"), 0);
}

// The handshake limit covers the whole first request, not only its header:
// a header announcing a block that never comes no longer holds the
// connection for ever.
TEST_F(ServerBeforeLogin, HandshakeWhoseBlockNeverComesIsDropped) {
  restart([](server_config &c) { c.handshake_timeout_s = 1; });
  raw_client c(port_);
  ASSERT_TRUE(c.connected());
  char h[command_header_size];
  encode_command_header(h, 211, 1);
  ASSERT_TRUE(c.send_raw(std::string(h, sizeof h)));
  EXPECT_TRUE(c.closed_by_server(10));
}

TEST_F(ServerBeforeLogin, OpeningAndLoggingInStillFit) {
  raw_client c(port_);
  ASSERT_TRUE(c.connected());
  EXPECT_GT(c.start("shop", "reader", reader_password), 0);
}

}  // namespace
}  // namespace talvortest
