// ConnectionPool: a bounded set of database connections shared by the coroutines of one event
// loop. A call leases a connection for its duration: an idle one, or a slot in which to open a
// new one, or, with every slot taken, a place in line until a call hands its slot on. The
// session count can be far above the useful number of connections; the line keeps the
// connections busy instead of opening one per session. A call that cannot open a connection in
// its slot (the process is out of descriptors) may instead wait a while for one that another
// call brings back. One thread, so no lock: the pool's state changes only between suspensions.
#pragma once

#include <asio/awaitable.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <chrono>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace talvex::data {

template <typename Connection>
class ConnectionPool {
 public:
  // A leased slot. `connection` is empty when the slot has none (the caller opens one); a
  // connection that the lease holds at its end goes back to the pool, so a caller that finds
  // its connection broken resets it first.
  class Lease {
   public:
    Lease(ConnectionPool& pool, std::unique_ptr<Connection> connection)
        : pool_(&pool), connection_(std::move(connection)) {}
    Lease(Lease&& other) noexcept
        : pool_(std::exchange(other.pool_, nullptr)), connection_(std::move(other.connection_)) {}
    Lease& operator=(Lease&&) = delete;
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() {
      if (!pool_) return;
      try {
        pool_->Return(std::move(connection_));
      } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch)
        // Only cancelling the next caller's timer can throw, which Asio never does for a
        // timer of a running loop; the connection closes with the lease.
      }
    }

    std::unique_ptr<Connection>& Held() { return connection_; }

   private:
    ConnectionPool* pool_;
    std::unique_ptr<Connection> connection_;
  };

  // Room for every connection up front: giving one back then never allocates.
  explicit ConnectionPool(std::size_t size) : size_(size == 0 ? 1 : size) { idle_.reserve(size_); }
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // A slot, in the order the calls asked for one.
  asio::awaitable<Lease> Acquire() {
    if (leased_ < size_) {
      ++leased_;
      co_return Lease(*this, TakeIdle());
    }
    auto waiter = std::make_shared<Waiter>(co_await asio::this_coro::executor);
    waiters_.push_back(waiter);
    // The timer never expires by itself: Return cancels it to hand the slot over.
    std::error_code ignored;
    co_await waiter->timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
    co_return Lease(*this, std::move(waiter->connection));
  }

  // For a call whose slot has no connection and that cannot open one: gives the slot up and
  // waits up to `limit` for a connection that another call brings back, ahead of the calls in
  // line for a slot. None at once when no other call holds a slot, none after `limit` when no
  // connection came back.
  asio::awaitable<std::optional<Lease>> AwaitConnection(Lease empty,
                                                        std::chrono::milliseconds limit) {
    if (leased_ <= 1) co_return std::nullopt;
    { const Lease givenUp(std::move(empty)); }
    auto waiter = std::make_shared<Waiter>(co_await asio::this_coro::executor);
    waiter->timer.expires_after(limit);
    connectionWaiters_.push_back(waiter);
    std::error_code ignored;  // cancelled by a hand-over, or expired
    co_await waiter->timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
    if (waiter->handed) co_return Lease(*this, std::move(waiter->connection));
    std::erase(connectionWaiters_, waiter);
    co_return std::nullopt;
  }

  std::size_t Size() const { return size_; }
  std::size_t Leased() const { return leased_; }
  std::size_t Waiting() const { return waiters_.size(); }

 private:
  struct Waiter {
    explicit Waiter(const asio::any_io_executor& executor)
        : timer(executor, asio::steady_timer::time_point::max()) {}
    asio::steady_timer timer;
    std::unique_ptr<Connection> connection;
    bool handed = false;
  };

  static void HandOver(std::deque<std::shared_ptr<Waiter>>& line,
                       std::unique_ptr<Connection> connection) {
    const std::shared_ptr<Waiter> next = std::move(line.front());
    line.pop_front();
    next->connection = std::move(connection);
    next->handed = true;
    next->timer.cancel();
  }

  std::unique_ptr<Connection> TakeIdle() {
    if (idle_.empty()) return nullptr;
    std::unique_ptr<Connection> connection = std::move(idle_.back());
    idle_.pop_back();
    return connection;
  }

  // A connection passes with its slot to the first call waiting for a connection; else the slot
  // passes to the first in line with its connection, if any; else it becomes free.
  void Return(std::unique_ptr<Connection> connection) {
    if (connection && !connectionWaiters_.empty()) {
      HandOver(connectionWaiters_, std::move(connection));
      return;
    }
    if (!waiters_.empty()) {
      HandOver(waiters_, std::move(connection));
      return;
    }
    --leased_;
    if (connection) idle_.push_back(std::move(connection));
  }

  std::size_t size_;
  std::size_t leased_ = 0;
  std::vector<std::unique_ptr<Connection>> idle_;
  std::deque<std::shared_ptr<Waiter>> waiters_;
  std::deque<std::shared_ptr<Waiter>> connectionWaiters_;
};

}  // namespace talvex::data
