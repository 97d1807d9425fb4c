// The table of failed log-ins by address: the growth and cap of the delay, forgetting after a
// quiet period, and the bound on the table under a spray of addresses.
#include "host/login_throttle.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvex {
namespace {

using namespace std::chrono_literals;
using Clock = LoginThrottle::Clock;

class LoginThrottleTest : public ::testing::Test {
 protected:
  LoginThrottle Make(std::size_t capacity = 100) {
    return LoginThrottle({1000ms, 16000ms, 600s, capacity}, [this] { return now_; });
  }
  std::vector<std::int64_t> Delays(LoginThrottle& throttle, const std::string& address, int n) {
    std::vector<std::int64_t> out;
    for (int i = 0; i < n; ++i) {
      out.push_back(throttle.Failed(address).count());
      now_ += 1s;
    }
    return out;
  }

  Clock::time_point now_{};
};

TEST_F(LoginThrottleTest, DelayDoublesFromTheBaseToTheCapPerAddress) {
  LoginThrottle throttle = Make();
  EXPECT_EQ(Delays(throttle, "192.0.2.1", 7),
            (std::vector<std::int64_t>{1000, 2000, 4000, 8000, 16000, 16000, 16000}));
  EXPECT_EQ(Delays(throttle, "192.0.2.2", 2), (std::vector<std::int64_t>{1000, 2000}));
  // Many failures never overflow the doubling: the cap holds.
  for (int i = 0; i < 200; ++i) throttle.Failed("192.0.2.1");
  EXPECT_EQ(throttle.Failed("192.0.2.1"), 16000ms);
}

TEST_F(LoginThrottleTest, AnAddressQuietForTheForgettingPeriodStartsAgain) {
  LoginThrottle throttle = Make();
  Delays(throttle, "2001:db8::1", 3);
  now_ += 600s - 1ms - 1s;  // the last failure was 1 s before the loop ended
  EXPECT_EQ(throttle.Failed("2001:db8::1"), 8000ms);
  now_ += 600s;
  EXPECT_EQ(throttle.Failed("2001:db8::1"), 1000ms);
}

TEST_F(LoginThrottleTest, ForgottenAddressesLeaveTheTableBeforeAnyOther) {
  LoginThrottle throttle = Make(3);
  throttle.Failed("a");
  throttle.Failed("b");
  now_ += 601s;
  throttle.Failed("c");
  EXPECT_EQ(throttle.Size(), 1U);
}

TEST_F(LoginThrottleTest, ASprayOfAddressesStaysWithinTheBoundAndKeepsTheRecentOffender) {
  LoginThrottle throttle = Make(100);
  std::chrono::milliseconds offender{};
  for (int n = 0; n < 10000; ++n) {
    throttle.Failed("10.0." + std::to_string(n / 256) + "." + std::to_string(n % 256));
    if (n % 50 == 0) offender = throttle.Failed("198.51.100.7");
    ASSERT_LE(throttle.Size(), 100U);
  }
  // The address that keeps failing stays among the most recent and is still at the cap; one
  // of the first sprayed has been pushed out and starts from the base.
  EXPECT_EQ(offender, 16000ms);
  EXPECT_EQ(throttle.Failed("10.0.0.0"), 1000ms);
}

}  // namespace
}  // namespace talvex
