// The event loop's run with and without polling: work that arrives while it polls, while it
// sleeps and from another thread is done, and it ends on stop and when out of work.
#include "host/event_loop.hpp"

#include <gtest/gtest.h>

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <thread>
#include <vector>

namespace talvex {
namespace {

using namespace std::chrono_literals;

class EventLoopTest : public ::testing::TestWithParam<std::chrono::microseconds> {};

TEST_P(EventLoopTest, RunsTimersPastThePollAndEndsWhenOutOfWork) {
  asio::io_context io;
  std::vector<int> order;
  asio::steady_timer late(io, 20ms);  // well past the poll: taken after a sleep
  late.async_wait([&](std::error_code) {
    order.push_back(2);
    asio::post(io, [&] { order.push_back(3); });
  });
  asio::post(io, [&] { order.push_back(1); });
  RunEventLoop(io, GetParam());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(io.stopped());
}

TEST_P(EventLoopTest, TakesWorkFromAnotherThreadAndEndsOnStop) {
  asio::io_context io;
  auto guard = asio::make_work_guard(io);
  int ran = 0;
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i) {
      std::this_thread::sleep_for(5ms);
      asio::post(io, [&] {
        if (++ran == 3) io.stop();
      });
    }
  });
  RunEventLoop(io, GetParam());
  poster.join();
  EXPECT_EQ(ran, 3);
}

INSTANTIATE_TEST_SUITE_P(PollOrNot, EventLoopTest, ::testing::Values(0us, 50us, 10ms));

}  // namespace
}  // namespace talvex
