// The event loop's run with polling before sleep; see event_loop.hpp.
#include "host/event_loop.hpp"

namespace talvex {

namespace {

// Polls until a handler runs or the time is up; true when one ran.
bool PollFor(asio::io_context& io, std::chrono::microseconds span) {
  const auto until = std::chrono::steady_clock::now() + span;
  do {
    if (io.poll() > 0) return true;
  } while (!io.stopped() && std::chrono::steady_clock::now() < until);
  return false;
}

}  // namespace

void RunEventLoop(asio::io_context& io, std::chrono::microseconds busyPoll) {
  if (busyPoll.count() <= 0) {
    io.run();
    return;
  }
  while (!io.stopped()) {
    if (PollFor(io, busyPoll)) continue;
    // Nothing came while polling: sleep until the next event, then poll again after it.
    if (io.run_one() == 0) return;
  }
}

}  // namespace talvex
