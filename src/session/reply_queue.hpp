// ReplyQueue: the bytes a session has composed but the socket has not yet taken. Replies are
// appended to one contiguous buffer; whatever piles up while a write is in flight goes out
// with the next single write, so a listing costs a few system calls instead of one per line.
// Two buffers take turns (the one being written and the one being filled), and neither keeps
// a large allocation once it has been written, so an idle session holds almost nothing. With a
// write round, a write that the queue would start joins the round instead (see WriteRound).
#pragma once

#include <asio/awaitable.hpp>
#include <asio/steady_timer.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "session/transport.hpp"
#include "session/write_round.hpp"

namespace talvex {

class ReplyQueue {
 public:
  // More than this many queued bytes make producers wait for the client to read.
  static constexpr std::size_t kRoomLimit = std::size_t{256} * 1024;
  // While a batch is open, a write starts only once this much has gathered.
  static constexpr std::size_t kBatchSize = std::size_t{32} * 1024;

  // Told of every write that ended in an error, and of every success after which nothing is
  // left to write.
  using Listener = std::function<void(const std::error_code&)>;
  // Each write in flight holds what `keepAlive` returns, so that the owner of the socket and
  // of this queue outlives it.
  using KeepAlive = std::function<std::shared_ptr<void>()>;

  // Without a round, each write starts as soon as there is something to write.
  ReplyQueue(Transport& socket, KeepAlive keepAlive, Listener listener,
             std::shared_ptr<WriteRound> round = nullptr);
  ReplyQueue(const ReplyQueue&) = delete;
  ReplyQueue& operator=(const ReplyQueue&) = delete;

  // One reply composed in place at the end of the queue. Whatever is appended to Text() is
  // handed over by Send(); a reply abandoned half-way (an exception while composing) leaves
  // nothing behind, so the client never sees a torn reply. Composing must not await: the
  // buffer is shared by every reply of the session.
  class Draft {
   public:
    explicit Draft(ReplyQueue& queue) : queue_(queue), start_(queue.pending_.size()) {}
    Draft(const Draft&) = delete;
    Draft& operator=(const Draft&) = delete;
    ~Draft();
    std::string& Text() { return queue_.pending_; }
    void Send();

   private:
    ReplyQueue& queue_;
    std::size_t start_;
    bool sent_ = false;
  };

  // While a batch is open, replies gather instead of each starting a write of its own; its end
  // hands over what has gathered. Writes already under way carry on taking everything queued.
  class Batch {
   public:
    explicit Batch(ReplyQueue& queue) : queue_(queue) { ++queue_.batches_; }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    ~Batch();

   private:
    ReplyQueue& queue_;
  };

  void Push(std::string_view bytes);
  // Starts writing whatever is queued, batch or not.
  void Flush();
  // Whether more than kRoomLimit bytes are queued while a write is still making progress.
  bool Full() const { return inFlight_ && Queued() > kRoomLimit; }
  // Waits while the queue is full.
  asio::awaitable<void> WaitForRoom();
  // Nothing queued and nothing in flight.
  bool Idle() const { return !inFlight_ && pending_.empty(); }
  std::size_t Queued() const { return pending_.size() + writing_.size(); }

 private:
  void Handed();
  void StartWrite();
  void StartInRound();
  void OnWritten(const std::error_code& ec);

  Transport& socket_;
  KeepAlive keepAlive_;
  Listener listener_;
  // Producers waiting for room wait on this timer; a finished write cancels it.
  asio::steady_timer room_;
  std::shared_ptr<WriteRound> round_;
  std::string pending_;
  std::string writing_;
  // A write is under way, or waiting for its round.
  bool inFlight_ = false;
  int batches_ = 0;
};

}  // namespace talvex
