// Message numbers and the item calls behind them.
#include "session/maildrop_view.hpp"

#include "session/command_line.hpp"

namespace talvex {

asio::awaitable<void> MailDropView::Open(const std::string& email) {
  // A refused lock has been logged by the data layer; the list stays as it was.
  const bool locked = co_await store_.Lock(email, sessionId_);
  if (!locked) co_return;
  auto ids = co_await store_.ListItems(email, sessionId_);
  ids_ = std::move(ids);
}

MessageNumber MailDropView::Parse(std::string_view argument) const {
  const auto value = ParseDecimal(argument);
  if (!value) return {};
  const auto n = RoundToInt32(*value);
  if (!n || *n < 1 || static_cast<std::size_t>(*n) > Count()) {
    return {MessageNumber::Kind::kOutOfRange};
  }
  return {MessageNumber::Kind::kValid, static_cast<std::size_t>(*n)};
}

asio::awaitable<std::optional<data::ItemStats>> MailDropView::Stats(std::size_t n) {
  co_return co_await store_.Stats(IdOf(n));
}

asio::awaitable<std::optional<data::MailItem>> MailDropView::Item(std::size_t n) {
  co_return co_await store_.Load(IdOf(n));
}

asio::awaitable<bool> MailDropView::MarkDeleted(std::size_t n, data::ItemStatus status) {
  co_return co_await store_.SetStatus(IdOf(n), status);
}

asio::awaitable<bool> MailDropView::Restore() {
  co_return co_await store_.SetSessionStatus(sessionId_, data::ItemStatus::kListed, false);
}

asio::awaitable<bool> MailDropView::RemoveDeleted() {
  co_return co_await store_.RemoveDeleted(sessionId_);
}

asio::awaitable<bool> MailDropView::Release() {
  co_return co_await store_.SetSessionStatus(sessionId_, data::ItemStatus::kWaiting, true);
}

}  // namespace talvex
