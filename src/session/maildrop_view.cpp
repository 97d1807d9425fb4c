// Message numbers and the item calls behind them.
#include "session/maildrop_view.hpp"

#include <algorithm>
#include <functional>
#include <limits>

#include "session/command_line.hpp"
#include "session/message_composer.hpp"

namespace talvex {

namespace {

// Every field with its presence and length, each field's bytes through the library's string
// hash (several bytes a step, where a byte-wise hash was a noticeable part of a listing), so
// that no two different sets of fields run together into the same value.
class FieldsDigest {
 public:
  void Add(std::string_view text) {
    Mix(text.size());
    Mix(std::hash<std::string_view>{}(text));
  }
  void Add(const std::optional<std::string>& field) {
    Mix(field ? 1 : 0);
    if (field) Add(std::string_view(*field));
  }
  std::uint64_t Value() const { return hash_; }

 private:
  // The finalising step of splitmix64 over the running value and the next word.
  void Mix(std::uint64_t value) {
    std::uint64_t z = hash_ + value + 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    hash_ = z ^ (z >> 31);
  }
  std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

std::uint64_t DigestOf(const data::ItemHeader& h, std::string_view hostName) {
  FieldsDigest digest;
  for (const auto* field : {&h.dtReceived, &h.subject, &h.content, &h.messageId, &h.fromName,
                            &h.fromAddress, &h.toAddress}) {
    digest.Add(*field);
  }
  digest.Add(hostName);
  return digest.Value();
}

constexpr std::string_view kHexDigits = "0123456789ABCDEF";

// The 16 bytes that an identifier of 32 upper-case hexadecimal digits spells, the form of
// HashText; nullopt for any other identifier.
std::optional<std::array<std::uint8_t, 16>> DigestBytes(std::string_view id) {
  std::array<std::uint8_t, 16> bytes{};
  if (id.size() != 2 * bytes.size()) return std::nullopt;
  for (std::size_t i = 0; i < id.size(); ++i) {
    const std::size_t digit = kHexDigits.find(id[i]);
    if (digit == std::string_view::npos) return std::nullopt;
    bytes[i / 2] = static_cast<std::uint8_t>(bytes[i / 2] << 4 | digit);
  }
  return bytes;
}

std::string DigestText(const std::array<std::uint8_t, 16>& bytes) {
  std::string text;
  text.reserve(2 * bytes.size());
  for (const std::uint8_t b : bytes) {
    text += kHexDigits[b >> 4];
    text += kHexDigits[b & 0xF];
  }
  return text;
}

}  // namespace

asio::awaitable<LockOutcome> MailDropView::Open(const std::string& email) {
  // A refused lock has been logged by the data layer; the list stays as it was.
  const LockOutcome outcome = co_await store_.LockWithOutcome(email, sessionId_);
  if (outcome != LockOutcome::kLocked) co_return outcome;
  email_ = email;
  auto ids = co_await store_.ListItems(email, sessionId_);
  ids_ = std::move(ids);
  memo_.assign(ids_.size(), Remembered{});
  co_return outcome;
}

asio::awaitable<bool> MailDropView::Renew() {
  co_return co_await store_.Lock(email_, sessionId_);
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

// The single query answers for an item exactly what Stats would: its row when the database
// still shows it, nothing when it was removed or marked deleted, whoever holds it now. So a
// message is left out or answered just as it was when each was read on its own.
asio::awaitable<MailDropView::Shown> MailDropView::AllStats() {
  Shown shown(ids_.size());
  if (ids_.empty()) co_return shown;
  auto rows = co_await store_.StatsOf(ids_);
  for (auto& row : rows) {
    const auto at = std::lower_bound(ids_.begin(), ids_.end(), row.itemId);
    if (at != ids_.end() && *at == row.itemId) shown[at - ids_.begin()] = std::move(row.stats);
  }
  co_return shown;
}

MailDropView::Remembered* MailDropView::Memo(std::size_t n, const data::ItemStats& item,
                                             std::string_view hostName) {
  // A header without a stored date is dated when it is composed, so its size and digest may
  // differ from one command to the next: such an item is worked out every time.
  if (!item.header.dtReceived || item.header.dtReceived->empty()) return nullptr;
  Remembered& entry = memo_.at(n - 1);
  const std::uint64_t fields = DigestOf(item.header, hostName);
  if (entry.fields != fields) entry = Remembered{fields};
  return &entry;
}

std::int64_t MailDropView::Size(std::size_t n, const data::ItemStats& item,
                                std::string_view hostName) {
  Remembered* entry = Memo(n, item, hostName);
  // A null body length is left to MessageSize, which raises for it.
  if (entry && entry->headerOctets > 0 && item.bodyLength) {
    return entry->headerOctets + std::int64_t{*item.bodyLength};
  }
  const std::int64_t size = MessageSize(item, hostName);
  const std::int64_t headerOctets = size - *item.bodyLength;
  if (entry && headerOctets > 0 && headerOctets <= std::numeric_limits<std::uint32_t>::max()) {
    entry->headerOctets = static_cast<std::uint32_t>(headerOctets);
  }
  return size;
}

std::string MailDropView::UniqueId(std::size_t n, const data::ItemStats& item,
                                   std::string_view hostName) {
  Remembered* entry = Memo(n, item, hostName);
  if (entry && entry->hasId) return DigestText(entry->id);
  std::string id = UniqueIdentifier(item.header, hostName);
  if (const auto bytes = DigestBytes(id); entry && bytes) {
    entry->id = *bytes;
    entry->hasId = true;
  }
  return id;
}

asio::awaitable<std::optional<data::MailItem>> MailDropView::Item(std::size_t n,
                                                                  std::int64_t bodyUpTo) {
  co_return co_await store_.Load(IdOf(n), bodyUpTo);
}

std::unique_ptr<data::BodyReader> MailDropView::OpenBody(std::size_t n) {
  return store_.OpenBody(IdOf(n));
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
