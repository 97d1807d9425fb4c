// The write round's turns: one posted handler each.
#include "session/write_round.hpp"

#include <asio/post.hpp>

namespace talvex {

bool WriteRound::Defer(std::shared_ptr<void> keepAlive, std::function<void()> start) {
  auto turn = current_.lock();
  // A write started while a turn ends (its session's next reply) belongs to the next turn.
  if (!turn || turn->ended) {
    turn = std::make_shared<Turn>();
    // Posted behind every handler that is ready now, so that it runs after all of them.
    asio::post(executor_, [turn, lastWrites = lastWrites_] {
      turn->ended = true;
      *lastWrites = turn->writes;
      for (Write& write : turn->deferred) write.start();
    });
    current_ = turn;
    if (*lastWrites_ <= 1) {
      turn->writes = 1;
      return false;
    }
  }
  turn->deferred.push_back({std::move(keepAlive), std::move(start)});
  ++turn->writes;
  return true;
}

}  // namespace talvex
