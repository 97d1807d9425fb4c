// LoginThrottle: the record of failed log-ins by client address, and the wait each one costs.
// The first failure from an address waits the base delay, each further one twice the one
// before up to a cap; an address quiet for the forgetting period starts again from the base.
// The table is bounded: when it is full, a new address takes the place of the one whose last
// failure is oldest, so that a spray of addresses costs memory in proportion to the bound
// only. One thread, no locks, as the server it belongs to.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>

#include "session/login_penalty.hpp"

namespace talvex {

class LoginThrottle final : public LoginPenalty {
 public:
  using Clock = std::chrono::steady_clock;

  struct Limits {
    std::chrono::milliseconds base{1000};
    std::chrono::milliseconds cap{16000};
    std::chrono::seconds forgetAfter{600};
    std::size_t capacity = 10000;  // addresses remembered at most
  };

  // `now` stands in for the clock in tests.
  explicit LoginThrottle(Limits limits, std::function<Clock::time_point()> now = Clock::now);

  std::chrono::milliseconds Failed(std::string_view address) override;
  // Addresses remembered now.
  std::size_t Size() const { return byAddress_.size(); }

 private:
  struct Record {
    unsigned failures = 0;
    Clock::time_point last;
    std::list<std::string>::iterator age;  // its place in ages_
  };
  std::chrono::milliseconds DelayAfter(unsigned failures) const;
  void MakeRoom(Clock::time_point now);

  const Limits limits_;
  const std::function<Clock::time_point()> now_;
  std::unordered_map<std::string, Record> byAddress_;
  std::list<std::string> ages_;  // addresses, most recent failure first
};

}  // namespace talvex
