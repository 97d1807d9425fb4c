// The reply queue's two buffers and the single write that empties them.
#include "session/reply_queue.hpp"

#include <asio/error.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <exception>
#include <utility>

namespace talvex {

namespace {

// A buffer larger than this after its write is given back rather than kept for the next
// reply: one downloaded message must not stay reserved for the rest of an idle session.
constexpr std::size_t kKeptCapacity = 1024;

void Release(std::string& buffer) {
  buffer.clear();
  if (buffer.capacity() > kKeptCapacity) std::string().swap(buffer);
}

}  // namespace

ReplyQueue::ReplyQueue(Transport& socket, KeepAlive keepAlive, Listener listener,
                       std::shared_ptr<WriteRound> round)
    : socket_(socket),
      keepAlive_(std::move(keepAlive)),
      listener_(std::move(listener)),
      // Never expires: waiting on it lasts until a finished write cancels the wait.
      room_(socket.get_executor(), asio::steady_timer::time_point::max()),
      round_(std::move(round)) {}

ReplyQueue::Draft::~Draft() {
  if (!sent_ && queue_.pending_.size() > start_) queue_.pending_.resize(start_);
}

void ReplyQueue::Draft::Send() {
  sent_ = true;
  queue_.Handed();
}

ReplyQueue::Batch::~Batch() {
  if (--queue_.batches_ > 0) return;
  try {
    queue_.Flush();
  } catch (const std::exception&) {
    // The gathered replies stay queued: the next reply or the session's close hands them over.
    return;
  }
}

void ReplyQueue::Push(std::string_view bytes) {
  pending_.append(bytes);
  Handed();
}

void ReplyQueue::Handed() {
  if (batches_ == 0 || pending_.size() >= kBatchSize) Flush();
}

void ReplyQueue::Flush() {
  if (inFlight_ || pending_.empty()) return;
  if (round_ && round_->Defer(keepAlive_(), [this] { StartInRound(); })) {
    inFlight_ = true;  // whatever is handed meanwhile joins this write
    return;
  }
  StartWrite();
}

// The buffer that was filled becomes the one being written; the emptied one takes the next
// replies. async_write goes on until every byte has been taken, so a reply is never left
// half-written while the queue looks idle.
void ReplyQueue::StartWrite() {
  writing_.swap(pending_);
  asio::async_write(
      socket_, asio::buffer(writing_),
      [this, keep = keepAlive_()](const std::error_code& ec, std::size_t) { OnWritten(ec); });
  inFlight_ = true;
}

// A write that cannot even be started is a write that failed.
void ReplyQueue::StartInRound() {
  try {
    StartWrite();
  } catch (const std::exception&) {
    OnWritten(asio::error::no_memory);
  }
}

void ReplyQueue::OnWritten(const std::error_code& ec) {
  inFlight_ = false;
  Release(writing_);
  if (ec) {
    Release(pending_);  // the connection is gone: nothing queued can be delivered any more
  } else if (!pending_.empty()) {
    StartWrite();  // everything that gathered meanwhile, in one write
  }
  room_.cancel();
  if (ec || Idle()) listener_(ec);
}

asio::awaitable<void> ReplyQueue::WaitForRoom() {
  while (Full()) {
    std::error_code cancelled;  // the wake-up call itself
    co_await room_.async_wait(asio::redirect_error(asio::use_awaitable, cancelled));
  }
}

}  // namespace talvex
