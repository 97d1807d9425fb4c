// WriteRound: the writes that the server's sessions start while the event loop works through
// the events that were ready together, begun one after another once those events' handlers have
// run. A client waiting for its reply sleeps, and the reply that wakes it costs the sending
// processor an interrupt to the client's; replies that follow close behind reach a client that
// is already awake, at no such cost. Gathering each turn's writes makes most replies of a busy
// server such followers. When the loop is quiet (the last turn wrote once at most), waiting
// would gain nothing and cost a turn, so the first write of a turn starts at once. A write waits
// at most for the handlers that were ready with it; the bytes and their order are unchanged.
// One per event loop: only the loop's thread touches it, so it takes no lock.
#pragma once

#include <asio/any_io_executor.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace talvex {

class WriteRound {
 public:
  explicit WriteRound(asio::any_io_executor executor) : executor_(std::move(executor)) {}
  WriteRound(const WriteRound&) = delete;
  WriteRound& operator=(const WriteRound&) = delete;

  // Either false, and the caller starts its write at once, or true, and `start` runs once the
  // handlers that are ready now have run, with `keepAlive` held until then (a loop torn down
  // before that lets go of it without running `start`). What `start` raises leaves the loop, as
  // from any other handler.
  bool Defer(std::shared_ptr<void> keepAlive, std::function<void()> start);

 private:
  struct Write {
    std::shared_ptr<void> keepAlive;
    std::function<void()> start;
  };
  // The writes of one turn. Its posted handler owns it, so that nothing outlives the loop.
  struct Turn {
    std::vector<Write> deferred;
    std::size_t writes = 0;  // the deferred ones and the one started at once, if any
    bool ended = false;
  };

  asio::any_io_executor executor_;
  // The turn under way: posted, and not yet ended.
  std::weak_ptr<Turn> current_;
  // How many writes the last turn that ended had; its handler sets it.
  std::shared_ptr<std::size_t> lastWrites_ = std::make_shared<std::size_t>(0);
};

}  // namespace talvex
