// The failed log-ins by address.
#include "host/login_throttle.hpp"

#include <algorithm>
#include <utility>

namespace talvex {

LoginThrottle::LoginThrottle(Limits limits, std::function<Clock::time_point()> now)
    : limits_(limits), now_(std::move(now)) {}

std::chrono::milliseconds LoginThrottle::Failed(std::string_view address) {
  const Clock::time_point now = now_();
  auto found = byAddress_.find(std::string(address));
  if (found == byAddress_.end()) {
    MakeRoom(now);
    ages_.emplace_front(address);
    found = byAddress_.emplace(ages_.front(), Record{0, now, ages_.begin()}).first;
  } else {
    ages_.splice(ages_.begin(), ages_, found->second.age);  // the iterator stays valid
  }
  Record& record = found->second;
  if (now - record.last >= limits_.forgetAfter) record.failures = 0;
  record.last = now;
  if (record.failures < UINT32_MAX) ++record.failures;
  return DelayAfter(record.failures);
}

std::chrono::milliseconds LoginThrottle::DelayAfter(unsigned failures) const {
  std::chrono::milliseconds delay = limits_.base;
  for (unsigned n = 1; n < failures && delay < limits_.cap; ++n) delay *= 2;
  return std::min(delay, limits_.cap);
}

// Addresses quiet for the forgetting period go first, oldest first; if none is and the table
// is full, the oldest of all goes anyway.
void LoginThrottle::MakeRoom(Clock::time_point now) {
  while (!ages_.empty() && (byAddress_.size() >= limits_.capacity ||
                            now - byAddress_.at(ages_.back()).last >= limits_.forgetAfter)) {
    byAddress_.erase(ages_.back());
    ages_.pop_back();
  }
}

}  // namespace talvex
