// Message numbers and the item calls behind them.
#include "session/maildrop_view.hpp"

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "session/command_line.hpp"
#include "session/message_composer.hpp"

namespace talvex {

// A drop's version moves with every item that arrives, changes or goes, so a listing made under
// the version the lock took the drop under is the listing this session would read: the same
// items, with the same digests. One is kept only when it was made under the version its own
// lock gave, so that nothing but the lock came between: the lock left no item carrying any
// session, and the listing holds exactly the drop's waiting items, as it would for any session.
asio::awaitable<LockOutcome> MailDropView::Open(const std::string& email) {
  // A refused lock has been logged by the data layer; the list stays as it was.
  const data::DropLock lock = co_await store_.LockWithOutcome(email, sessionId_);
  if (lock.outcome != LockOutcome::kLocked) co_return lock.outcome;
  email_ = email;
  const data::DropListing* known =
      facts_ && lock.version ? facts_->FindListing(email, *lock.version) : nullptr;
  data::DropListing listing;
  if (known) {
    listing = *known;
  } else {
    listing = co_await store_.ListItems(email, sessionId_);
    if (facts_ && lock.version && listing.changes == lock.version) {
      facts_->KeepListing(email, listing);
    }
  }
  ids_ = std::move(listing.ids);
  digests_ = std::move(listing.digests);
  listedChanges_ = listing.changes;
  co_return lock.outcome;
}

// The drop's version outlives any lock row, so the listing's version still vouches for its
// digests after the lock is taken again: whatever came between (a takeover, its marks undone)
// changed items and so moved the version.
asio::awaitable<bool> MailDropView::Renew() {
  co_return co_await store_.Lock(email_, sessionId_);
}

// The version only grows, and a session that no longer holds the lock is given none: an equal
// version means that nothing touched a listed item since the listing.
asio::awaitable<bool> MailDropView::Unchanged() {
  if (!listedChanges_ || digests_.size() != ids_.size()) co_return false;
  const std::optional<std::int64_t> changes = co_await store_.DropChanges(email_, sessionId_);
  if (changes == listedChanges_) co_return true;
  // It will not be the same again: the listing's digests can no longer be vouched for.
  listedChanges_.reset();
  std::vector<std::uint64_t>().swap(digests_);
  co_return false;
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

asio::awaitable<std::optional<MailDropView::Listed>> MailDropView::Stats(std::size_t n) {
  auto stats = co_await store_.Stats(IdOf(n));
  if (!stats) co_return std::nullopt;
  co_return Listed{.itemId = IdOf(n),
                   .stats = std::make_unique<const data::ItemStats>(std::move(*stats))};
}

std::optional<MailDropView::Listed>* MailDropView::SlotOf(Shown& shown, std::int64_t itemId) const {
  const auto at = std::lower_bound(ids_.begin(), ids_.end(), itemId);
  if (at == ids_.end() || *at != itemId) return nullptr;
  return &shown[static_cast<std::size_t>(at - ids_.begin())];
}

// The digests are those of the drop's items as the drop stands now: either the listing's,
// while nothing has touched a listed item since, or read afresh. An item the session lists that
// is not among those read (its address changed, say) is read by its identifier like an item not
// remembered, and shown if that read shows it, as the reading of each item did before.
asio::awaitable<std::vector<std::int64_t>> MailDropView::Recall(Shown& shown, Need need,
                                                                std::uint64_t hostKey) {
  std::vector<std::int64_t> unknown;
  // Entry `at` from the memory when its digest is the one it was worked out under.
  const auto recall = [&](std::size_t at, std::optional<std::uint64_t> digest) {
    const std::int64_t itemId = ids_[at];
    const MessageFacts::Entry* entry = digest ? facts_->Find(itemId, *digest ^ hostKey) : nullptr;
    if (entry && need == Need::kSize && entry->size >= 0) {
      shown[at] = Listed{.itemId = itemId, .size = entry->size};
    } else if (entry && need == Need::kUniqueId && !entry->uniqueId.empty()) {
      shown[at] = Listed{.itemId = itemId, .uniqueId = entry->uniqueId};
    } else {
      unknown.push_back(itemId);
    }
  };
  const bool unchanged = co_await Unchanged();
  if (unchanged) {
    for (std::size_t at = 0; at < ids_.size(); ++at) recall(at, digests_[at]);
    co_return unknown;
  }
  std::vector<bool> seen(ids_.size());
  const std::vector<data::ItemDigest> digests = co_await store_.DigestsOf(email_);
  for (const data::ItemDigest& row : digests) {
    auto* slot = SlotOf(shown, row.itemId);
    if (!slot) continue;  // an item that arrived after the listing
    const auto at = static_cast<std::size_t>(slot - shown.data());
    seen[at] = true;
    recall(at, row.digest);
  }
  for (std::size_t at = 0; at < ids_.size(); ++at) {
    if (!seen[at]) unknown.push_back(ids_[at]);
  }
  co_return unknown;
}

// The digests come from the same rows as the fields, so a remembered answer is one the fields
// stored now would give. Only the items not remembered are read in full; their rows carry the
// digest of the very fields they hold. An item that has gone by then is left out.
asio::awaitable<MailDropView::Shown> MailDropView::AllStats(Need need, std::string_view hostName) {
  Shown shown(ids_.size());
  if (ids_.empty()) co_return shown;
  const std::uint64_t hostKey = std::hash<std::string_view>{}(hostName);
  std::vector<data::ItemStatsRow> rows;
  if (facts_) {
    const std::vector<std::int64_t> unknown = co_await Recall(shown, need, hostKey);
    if (unknown.empty()) co_return shown;
    rows = co_await store_.StatsOf(unknown);
  } else {
    rows = co_await store_.StatsOf(ids_);
  }
  for (auto& row : rows) {
    auto* slot = SlotOf(shown, row.itemId);
    if (!slot) continue;
    // A header without a stored date is dated when it is composed, so its size and identifier
    // may differ from one command to the next: such an item is worked out every time.
    const bool dated = row.stats.header.dtReceived && !row.stats.header.dtReceived->empty();
    *slot = Listed{.itemId = row.itemId,
                   .key = row.digest ^ hostKey,
                   .remember = facts_ && dated,
                   .stats = std::make_unique<const data::ItemStats>(std::move(row.stats))};
  }
  co_return shown;
}

const data::ItemStats& MailDropView::FieldsOf(const Listed& item) {
  if (!item.stats) throw std::logic_error("listing entry without fields");
  return *item.stats;
}

std::int64_t MailDropView::Size(const Listed& item, std::string_view hostName) {
  if (item.size >= 0) return item.size;
  // LIST asks twice, for its total and for its line.
  if (const auto* entry = item.remember ? facts_->Find(item.itemId, item.key) : nullptr;
      entry && entry->size >= 0) {
    return entry->size;
  }
  const std::int64_t size = MessageSize(FieldsOf(item), hostName, facts_.get());
  if (item.remember) facts_->Take(item.itemId, item.key).size = size;
  return size;
}

std::string MailDropView::UniqueId(const Listed& item, std::string_view hostName) {
  if (!item.uniqueId.empty()) return item.uniqueId;
  std::string id = UniqueIdentifier(FieldsOf(item).header, hostName, facts_.get());
  if (item.remember && !id.empty()) facts_->Take(item.itemId, item.key).uniqueId = id;
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
