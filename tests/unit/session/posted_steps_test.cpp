// The steps of a listing run one per turn of the event loop: other events come between the
// listing's start and its first step and between any two steps, a stop ends the run before its
// next step, and a step's failure reaches the listing.
#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "session/posted_steps.hpp"

namespace talvex {
namespace {

struct Outcome {
  std::string trace;  // "c" as the run starts, "s<n>" for step n, "o" for each rival turn
  std::optional<std::size_t> next;
  std::string failure;
};

// Runs steps `from` to `count` on a fresh loop, next to a rival event that comes back
// `rivalTurns` times.
Outcome RunOnLoop(std::size_t from, std::size_t count,
                  const std::function<void(std::string&, std::size_t)>& work,
                  const std::function<bool(const std::string&)>& stopAt, int rivalTurns = 0) {
  asio::io_context io(1);
  Outcome outcome;
  const ListingStep step = [&](std::size_t n) {
    work(outcome.trace, n);
    outcome.trace += "s" + std::to_string(n);
  };
  const StopCheck stop = [&] { return stopAt(outcome.trace); };
  std::function<void()> rival = [&] {
    outcome.trace += "o";
    if (--rivalTurns > 0) asio::post(io, rival);
  };
  if (rivalTurns > 0) asio::post(io, rival);
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        outcome.trace += "c";
        try {
          outcome.next = co_await RunPostedSteps(io.get_executor(), from, count, step, stop);
        } catch (const std::exception& error) {
          outcome.failure = error.what();
        }
      },
      [](const std::exception_ptr& error) {
        if (error) std::rethrow_exception(error);
      });
  io.run();
  return outcome;
}

const auto kNoWork = [](std::string&, std::size_t) {};
const auto kNeverStop = [](const std::string&) { return false; };

TEST(PostedSteps, EveryStepWaitsForATurnOfTheOtherEvents) {
  const Outcome outcome = RunOnLoop(1, 4, kNoWork, kNeverStop, 10);
  EXPECT_EQ(outcome.next, 4U);
  std::string steps;
  for (std::size_t at = 0; at < outcome.trace.size(); ++at) {
    if (outcome.trace[at] != 's') continue;
    steps += outcome.trace.substr(at, 2);
    EXPECT_EQ(outcome.trace[at - 1], 'o') << outcome.trace;
  }
  EXPECT_EQ(steps, "s1s2s3");
}

TEST(PostedSteps, StopEndsTheRunBeforeItsNextStep) {
  const Outcome outcome = RunOnLoop(0, 5, kNoWork, [](const std::string& trace) {
    return trace.find("s1") != std::string::npos;
  });
  EXPECT_EQ(outcome.trace, "cs0s1");
  EXPECT_EQ(outcome.next, 2U);
}

TEST(PostedSteps, AFailingStepEndsTheRunWithItsFailure) {
  const auto failAtOne = [](std::string&, std::size_t n) {
    if (n == 1) throw std::runtime_error("item 1 unreadable");
  };
  const Outcome outcome = RunOnLoop(0, 3, failAtOne, kNeverStop);
  EXPECT_EQ(outcome.trace, "cs0");
  EXPECT_EQ(outcome.failure, "item 1 unreadable");
  EXPECT_FALSE(outcome.next);
}

}  // namespace
}  // namespace talvex
