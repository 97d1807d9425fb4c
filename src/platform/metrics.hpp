// Metrics: what a server counts about itself for an operator's scraper (sessions, log-ins,
// commands by name, retrieved messages and octets, deleted items, database errors and call
// latency, event-loop lag) and their text in the OpenMetrics exposition format. One object per
// server, shared by the host program, the server and its sessions; everything that touches it
// runs on the server's event loop, so its counts need no atomics.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace talvex {

class Metrics {
 public:
  enum class Counter : std::uint8_t {
    kSessions,
    kLoginsOk,
    kLoginsFailed,
    kMessagesRetrieved,
    kOctetsRetrieved,
    kItemsDeleted,
    kDatabaseErrors,
  };

  void Count(Counter counter, std::uint64_t n = 1) {
    counters_.at(static_cast<std::size_t>(counter)) += n;
  }
  void SessionOpened() {
    ++sessionsOpen_;
    Count(Counter::kSessions);
  }
  void SessionClosed() {
    if (sessionsOpen_ > 0) --sessionsOpen_;
  }
  // `word` is a command word the session knows, upper-cased, or "other": the caller keeps the
  // set of label values small and fixed, whatever clients send.
  void CommandReceived(std::string_view word);
  void DatabaseCall(std::chrono::nanoseconds took) { databaseCalls_.Observe(took); }
  void LoopLag(std::chrono::nanoseconds lag) { loopLag_.Observe(lag); }

  std::uint64_t Value(Counter counter) const {
    return counters_.at(static_cast<std::size_t>(counter));
  }
  std::int64_t SessionsOpen() const { return sessionsOpen_; }

  // Every metric, ending in "# EOF".
  std::string Exposition() const;

 private:
  // Cumulative buckets in seconds, as scrapers expect them, from half a millisecond up.
  class Histogram {
   public:
    static constexpr std::array<double, 12> kBounds{0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
                                                    0.05,   0.1,   0.25,   0.5,   1,    2.5};
    void Observe(std::chrono::nanoseconds value);
    void Write(std::string& out, std::string_view name, std::string_view help) const;

   private:
    std::array<std::uint64_t, kBounds.size()> buckets_{};
    std::uint64_t count_ = 0;
    double sum_ = 0;
  };

  std::array<std::uint64_t, 7> counters_{};
  std::int64_t sessionsOpen_ = 0;
  std::map<std::string, std::uint64_t, std::less<>> commands_;
  Histogram databaseCalls_;
  Histogram loopLag_;
};

}  // namespace talvex
