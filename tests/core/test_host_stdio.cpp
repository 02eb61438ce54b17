// The host program's stdio and the library's streams: a thread of the
// library that waits on a pipe must not hold that stream's stdio lock, since
// fflush(NULL) takes the lock of every open stream in turn and would wait
// for as long as the library does.
#include <stdio.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "channel.h"
#include "ops_fixture.h"
#include "support/test_os.h"

namespace opstest {
namespace {

using talvortest::blocking_call;

const int wait_ms = 20000;

// fflush(NULL) on a thread of its own; true when it returned within 20 s. A
// flush that does not return stays behind (detached) until whatever holds
// it lets go, and the test goes on to release it.
bool fflush_all_returns() {
  std::packaged_task<int()> flush([] { return fflush(nullptr); });
  std::future<int> done = flush.get_future();
  std::thread(std::move(flush)).detach();
  return done.wait_for(std::chrono::milliseconds(wait_ms)) == std::future_status::ready;
}

TEST(HostStdio, FflushAllReturnsWhileTheLibraryWaitsOnItsPipes) {
  // Only a flush made while the library's thread is inside its read proves
  // anything, so each wait is first seen in the kernel.
  std::string why;
  if (!talvortest::blocking_calls_visible(&why)) GTEST_SKIP() << why;

  ScriptServer server;
  // Held rather than stalled: the release must not close a stream, since
  // closing one waits for a flush that a regression leaves stuck.
  Reply held = ok({"5"});
  held.fault = Reply::hold;
  server.push(held);
  Text address(server.address());
  ASSERT_EQ(1, TalvorConnect(address.get()));

  // Connected and idle: the communications thread waits for a command.
  EXPECT_GT(talvortest::wait_until_any_blocked(blocking_call::read, fileno(server_read_fp), wait_ms), 0)
      << "the communications thread never waited for a command";
  EXPECT_TRUE(fflush_all_returns()) << "fflush(NULL) waited while the communications thread was idle";

  // A call waits for the reply the server withholds.
  int h = make_entry(7, 11, 3);
  std::promise<long> caller_id;
  std::future<long> caller_started = caller_id.get_future();
  auto call = std::async(std::launch::async, [&] {
    caller_id.set_value(talvortest::thread_id());
    return TalvorTotal(h);
  });
  EXPECT_TRUE(server.wait_for_requests(3, wait_ms)) << "the count never reached the server";
  const bool waiting =
      caller_started.wait_for(std::chrono::milliseconds(wait_ms)) == std::future_status::ready &&
      talvortest::wait_until_blocked(caller_started.get(), blocking_call::read, fileno(client_read_fp), wait_ms);
  EXPECT_TRUE(waiting) << "the call never waited for its reply";
  EXPECT_TRUE(fflush_all_returns()) << "fflush(NULL) waited while a call waited for its reply";

  // The answer ends the call; a flush left stuck above finishes with it.
  server.release_held();
  ASSERT_EQ(std::future_status::ready, call.wait_for(std::chrono::milliseconds(wait_ms)));
  EXPECT_EQ(5, call.get());
  free_slot(h);
  TalvorDisconnect();
  EXPECT_EQ(0, TalvorError());
}

}  // namespace
}  // namespace opstest
