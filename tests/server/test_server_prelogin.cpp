// Before a session has logged in, its requests get little room: a client
// that has given no password cannot make the server take in megabytes.
#include <string>

#include "server/server_fixture.h"

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

TEST_F(ServerBeforeLogin, OpeningAndLoggingInStillFit) {
  raw_client c(port_);
  ASSERT_TRUE(c.connected());
  EXPECT_GT(c.start("shop", "reader", reader_password), 0);
}

}  // namespace
}  // namespace talvortest
