// The write round on a bare event loop: a quiet loop's write starts at once, a busy turn's
// writes wait for the handlers that were ready with them and then start in order, a write
// added while a turn ends waits for the next, and a loop torn down with writes waiting lets go
// of what they hold.
#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <memory>
#include <string>

#include "session/write_round.hpp"

namespace talvex {
namespace {

// Defers a write that appends `name` to the trace when it starts; "now" means the caller would
// have started it at once.
void Write(WriteRound& round, std::string& trace, const std::string& name) {
  if (!round.Defer(nullptr, [&trace, name] { trace += name; })) trace += "now(" + name + ")";
}

TEST(WriteRound, BusyTurnsGatherTheirWritesBehindTheReadyHandlers) {
  asio::io_context io(1);
  WriteRound round(io.get_executor());
  std::string trace;
  // A quiet loop: the first write of the turn starts at once, the second waits for the turn.
  Write(round, trace, "a");
  Write(round, trace, "b");
  asio::post(io, [&] { trace += "h"; });  // posted after the turn began: runs after its writes
  io.poll();
  EXPECT_EQ(trace, "now(a)bh");

  // The last turn wrote twice: every write of this one waits, and starts in the order added,
  // after the handlers that were ready.
  trace.clear();
  asio::post(io, [&] {
    Write(round, trace, "c");
    Write(round, trace, "d");
  });
  asio::post(io, [&] { trace += "h"; });
  io.restart();
  io.poll();
  EXPECT_EQ(trace, "hcd");

  // A write added by one that starts belongs to the next turn.
  trace.clear();
  const bool deferred = round.Defer(nullptr, [&] {
    trace += "e";
    Write(round, trace, "f");
  });
  EXPECT_TRUE(deferred);
  Write(round, trace, "g");
  io.restart();
  io.run_one();
  EXPECT_EQ(trace, "eg");
  io.restart();
  io.poll();
  EXPECT_EQ(trace, "egf");
}

TEST(WriteRound, ALoopTornDownLetsGoOfTheWaitingWrites) {
  auto held = std::make_shared<int>(0);
  const std::weak_ptr<int> watch = held;
  int started = 0;
  {
    asio::io_context io(1);
    WriteRound round(io.get_executor());
    // Two writes in one turn, so that the next turn defers all of its writes.
    EXPECT_FALSE(round.Defer(nullptr, [] {}));
    EXPECT_TRUE(round.Defer(nullptr, [] {}));
    io.poll();
    EXPECT_TRUE(round.Defer(std::move(held), [&] { ++started; }));
  }
  EXPECT_EQ(started, 0);
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace talvex
