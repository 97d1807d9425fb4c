// The session's time limits besides the linger: the fixed session age or, with the
// inactivity timer, the time since the client last asked for something; the time to log in;
// and the wait that a failed log-in costs.
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/net.hpp"
#include "session/session.hpp"

namespace talvex {

void Session::StartTimers() {
  if (settings_.conformance.inactivityTimeout.count() > 0) {
    RestartInactivityTimer();
  } else {
    StartConnectionTimer();
  }
  StartLoginTimer();
}

// A command, and the client reading its replies, start the wait again. The replies it reads
// may already lie in the kernel's send queue (the end of a large message), so a queue that has
// shrunk during the wait counts too, and renews the lock as a command would: a slow client may
// read that tail for longer than a lock stays fresh. A session that stays quiet that long is
// closed without a reply, and whatever it marked stays in the drop.
void Session::RestartInactivityTimer() {
  const auto timeout = settings_.conformance.inactivityTimeout;
  if (timeout.count() == 0 || phase_ != Phase::kOpen) return;
  unsentAtWait_ = UnsentOctets(transport_.Socket());
  inactivityTimer_.expires_after(timeout);
  inactivityTimer_.async_wait([self = shared_from_this()](const std::error_code& ec) {
    // A wait that had already run out when the timer was set again must not count.
    if (ec || self->phase_ != Phase::kOpen ||
        self->inactivityTimer_.expiry() > std::chrono::steady_clock::now()) {
      return;
    }
    if (UnsentOctets(self->transport_.Socket()) < self->unsentAtWait_) {
      self->RestartInactivityTimer();
      // A renewal that fails is logged; the session goes on with what it holds.
      asio::co_spawn(
          self->transport_.get_executor(), [self] { return self->commands_.KeepLock(); },
          asio::detached);
      return;
    }
    self->CloseForTimeLimit("Inactivity time limit");
  });
}

// Whoever has not logged in by then gives the slot back, so that silent connections cannot
// hold every slot until the session age or the inactivity timer ends them.
void Session::StartLoginTimer() {
  if (settings_.loginTimeout.count() == 0) return;
  loginTimer_.expires_after(settings_.loginTimeout);
  loginTimer_.async_wait([self = shared_from_this()](const std::error_code& ec) {
    if (ec || self->phase_ != Phase::kOpen || self->commands_.LoggedIn()) return;
    self->CloseForTimeLimit("Log-in time limit");
  });
}

void Session::CloseForTimeLimit(std::string_view limit) {
  Log(Severity::kDetail,
      std::string(limit) + " reached, closing socket " + std::to_string(settings_.index));
  End();
}

// The timer is the coroutine's own: only this session waits, and the owner's unload finds it
// running out on its own within the penalty's cap.
asio::awaitable<void> Session::PenalizeFailedLogIn() {
  if (!settings_.loginPenalty) co_return;
  const auto delay = settings_.loginPenalty->Failed(peer_);
  if (delay.count() <= 0) co_return;
  asio::steady_timer timer(connectionTimer_.get_executor(), delay);
  co_await timer.async_wait(asio::use_awaitable);
}

}  // namespace talvex
