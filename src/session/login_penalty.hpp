// LoginPenalty: what a session asks its owner after a failed log-in: how long the refusal
// waits, by the client's address. Keeping the record across sessions and addresses is the
// owner's business (host/login_throttle.hpp); the session only waits, on a timer of its own,
// so that no other session is held up.
#pragma once

#include <chrono>
#include <string_view>

namespace talvex {

class LoginPenalty {
 public:
  // Records one failed log-in from `address` and gives the delay before its refusal.
  virtual std::chrono::milliseconds Failed(std::string_view address) = 0;

 protected:
  ~LoginPenalty() = default;
};

}  // namespace talvex
