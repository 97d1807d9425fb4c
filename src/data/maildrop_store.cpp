// Typed mail-drop calls: the DataHandler operation, then its row read into a struct.
#include "data/maildrop_store.hpp"

#include <array>
#include <memory>
#include <utility>

#include "data/data_errors.hpp"

namespace talvex::data {

namespace {

// A field read for the last time: its text is moved out of the record set.
std::optional<std::string> TextOf(Variant&& value) {
  if (value.IsNull()) return std::nullopt;
  return std::move(value).TextOrEmpty();
}

std::optional<std::string> TextOf(const Variant& value) {
  if (value.IsNull()) return std::nullopt;
  return value.TextOrEmpty();
}

// The header fields in the order of ItemHeader, then the one field that follows them in the
// query (the body or its length).
constexpr std::size_t kHeaderFields = 7;
constexpr std::size_t kAfterHeader = kHeaderFields;

std::array<std::string_view, kHeaderFields + 1> ItemFields(std::string_view last) {
  return {"DTReceived", "Subject",     "Content",   "MessageID",
          "FromName",   "FromAddress", "ToAddress", last};
}

std::string IdList(const std::vector<std::int64_t>& itemIds) {
  std::string list;
  list.reserve(itemIds.size() * 8);
  for (const std::int64_t id : itemIds) {
    if (!list.empty()) list += ',';
    list += std::to_string(id);
  }
  return list;
}

ItemHeader TakeHeader(Recordset& row, const std::array<std::size_t, kHeaderFields + 1>& at) {
  const auto take = [&](std::size_t field) { return TextOf(std::move(row.FieldAt(at[field]))); };
  return {take(0), take(1), take(2), take(3), take(4), take(5), take(6)};
}

enum UserField : std::size_t { kAcctDisabled, kUserId, kUserPassword, kEmail };

// The stats of the current row, its header fields taken out of it.
ItemStats TakeStats(Recordset& row, const std::array<std::size_t, kHeaderFields + 1>& at) {
  const Variant& length = row.FieldAt(at[kAfterHeader]);
  const std::optional<std::int32_t> bodyLength =
      length.IsNull() ? std::nullopt : std::optional(length.ToInt32());
  return {TakeHeader(row, at), bodyLength};
}

Variant StatusValue(ItemStatus status) {
  return Variant(static_cast<int>(status));
}

// A body read through SMS_GetP3BodyPiece, for an engine that reads no ranges itself. The
// procedure counts characters, so a piece asked for `octets` of them may hold more octets
// than that, up to four times for the longest characters.
class PieceReader final : public BodyReader {
 public:
  PieceReader(DataHandler& handler, std::int64_t itemId) : handler_(handler), itemId_(itemId) {}

  asio::awaitable<bool> ReadNext(std::string& out, std::size_t octets) override {
    if (ended_) co_return false;
    const auto count = static_cast<std::int64_t>(octets);
    Recordset piece = co_await handler_.GetP3BodyPieceAsync(itemId_, next_, count);
    if (piece.RecordCount() == 0 || piece.FieldAt(0).IsNull()) {
      Raise(ErrorNumber::kDbProvider,
            "the body of item " + std::to_string(itemId_) + " was removed while being read");
    }
    const std::string text = std::move(piece.FieldAt(0)).TextOrEmpty();
    std::int64_t characters = 0;
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    next_ += characters;
    ended_ = characters < count;
    out.append(text);
    co_return !text.empty();
  }

 private:
  DataHandler& handler_;
  std::int64_t itemId_;
  std::int64_t next_ = 1;  // the first character not read yet
  bool ended_ = false;
};

}  // namespace

MailDropStore::MailDropStore(const Environment& env, std::shared_ptr<BackendPool> pool, LogSink log,
                             std::string instanceId)
    : handler_(env, std::move(pool)),
      instanceId_(std::move(instanceId)),
      userFields_({"AcctDisabled", "UserID", "UserPassword", "Email"}),
      dropFields_({"GWQID", "Digest", "Changes"}),
      changesField_({"Changes"}),
      versionField_({"Version"}),
      statsFields_(ItemFields("BodyLength")),
      dropStatsFields_(ItemFields("BodyLength")),
      dropStatsIds_({"GWQID", "Digest"}),
      digestFields_({"GWQID", "Digest"}),
      itemFields_(ItemFields("Body")),
      bodyLeftField_({"BodyLeft"}) {
  handler_.SetEventLog(std::move(log));
}

asio::awaitable<std::optional<UserAccount>> MailDropStore::FindUser(const std::string& logonName) {
  const Recordset user = co_await handler_.GetP3UserDetailsAsync(logonName);
  if (user.RecordCount() == 0) co_return std::nullopt;
  // A null digest or identifier is a damaged record: reading it raises, as a log-in must not
  // go on with it. A disabled account is refused before anything else is read.
  const auto& at = userFields_.In(user);
  UserAccount account;
  account.disabled = user.FieldAt(at[kAcctDisabled]).EqualsNumber(1);
  if (!account.disabled) {
    account.userId = user.FieldAt(at[kUserId]).ToText();
    account.userPassword = user.FieldAt(at[kUserPassword]).ToText();
    account.email = TextOf(user.FieldAt(at[kEmail]));
  }
  co_return account;
}

asio::awaitable<bool> MailDropStore::Lock(const std::string& email, const std::string& sessionId) {
  co_return co_await handler_.LockP3MailDropAsync(email, sessionId, instanceId_);
}

asio::awaitable<DropLock> MailDropStore::LockWithOutcome(const std::string& email,
                                                         const std::string& sessionId) {
  LockResult lock = co_await handler_.LockP3MailDropOutcomeAsync(email, sessionId, instanceId_);
  DropLock result{.outcome = lock.outcome};
  // A drop that never had an item has no version yet.
  if (lock.outcome == LockOutcome::kLocked && lock.rows.RecordCount() > 0) {
    lock.rows.MoveFirst();
    const Variant& version = lock.rows.FieldAt(versionField_.In(lock.rows)[0]);
    if (!version.IsNull()) result.version = version.ToInt64();
  }
  co_return result;
}

asio::awaitable<DropListing> MailDropStore::ListItems(const std::string& email,
                                                      const std::string& sessionId) {
  Recordset drop = co_await handler_.GetP3MailDropAsync(email, sessionId);
  DropListing listing;
  // An empty drop reads no field, so it needs no position either.
  if (drop.RecordCount() == 0) co_return listing;
  const auto count = static_cast<std::size_t>(drop.RecordCount());
  listing.ids.reserve(count);
  listing.digests.reserve(count);
  const auto& at = dropFields_.In(drop);
  drop.MoveFirst();
  // Every row carries the same count.
  if (const Variant& changes = drop.FieldAt(at[2]); !changes.IsNull()) {
    listing.changes = changes.ToInt64();
  }
  for (; !drop.Eof(); drop.MoveNext()) {
    listing.ids.push_back(drop.FieldAt(at[0]).ToInt64());
    const Variant& digest = drop.FieldAt(at[1]);
    // Without every digest the count is of no use: the listings read the digests anyway.
    if (digest.IsNull()) listing.changes.reset();
    if (listing.changes) listing.digests.push_back(static_cast<std::uint64_t>(digest.ToInt64()));
  }
  if (!listing.changes) std::vector<std::uint64_t>().swap(listing.digests);
  co_return listing;
}

asio::awaitable<std::optional<std::int64_t>> MailDropStore::DropChanges(
    const std::string& email, const std::string& sessionId) {
  const Recordset row = co_await handler_.GetP3DropChangesAsync(email, sessionId);
  if (row.RecordCount() == 0) co_return std::nullopt;
  const Variant& changes = row.FieldAt(changesField_.In(row)[0]);
  if (changes.IsNull()) co_return std::nullopt;
  co_return changes.ToInt64();
}

asio::awaitable<std::optional<ItemStats>> MailDropStore::Stats(std::int64_t itemId) {
  Recordset row = co_await handler_.GetP3ItemStatsAsync(itemId);
  if (row.RecordCount() == 0) co_return std::nullopt;
  co_return TakeStats(row, statsFields_.In(row));
}

asio::awaitable<std::vector<ItemStatsRow>> MailDropStore::StatsOf(
    const std::vector<std::int64_t>& itemIds) {
  const std::string list = IdList(itemIds);
  Recordset rows = co_await handler_.GetP3DropStatsAsync(list);
  std::vector<ItemStatsRow> stats;
  if (rows.RecordCount() == 0) co_return stats;
  stats.reserve(static_cast<std::size_t>(rows.RecordCount()));
  const auto& at = dropStatsFields_.In(rows);
  const auto& ids = dropStatsIds_.In(rows);
  for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) {
    const std::int64_t itemId = rows.FieldAt(ids[0]).ToInt64();
    const auto digest = static_cast<std::uint64_t>(rows.FieldAt(ids[1]).ToInt64());
    stats.push_back({itemId, TakeStats(rows, at), digest});
  }
  co_return stats;
}

asio::awaitable<std::vector<ItemDigest>> MailDropStore::DigestsOf(const std::string& email) {
  Recordset rows = co_await handler_.GetP3DropDigestsAsync(email);
  std::vector<ItemDigest> digests;
  if (rows.RecordCount() == 0) co_return digests;
  digests.reserve(static_cast<std::size_t>(rows.RecordCount()));
  const auto& ids = digestFields_.In(rows);
  for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) {
    const Variant& digest = rows.FieldAt(ids[1]);
    digests.push_back({rows.FieldAt(ids[0]).ToInt64(),
                       digest.IsNull()
                           ? std::nullopt
                           : std::optional(static_cast<std::uint64_t>(digest.ToInt64()))});
  }
  co_return digests;
}

asio::awaitable<std::optional<MailItem>> MailDropStore::Load(std::int64_t itemId,
                                                             std::int64_t bodyUpTo) {
  Recordset row = co_await handler_.GetP3MailItemUpToAsync(itemId, bodyUpTo);
  if (row.RecordCount() == 0) co_return std::nullopt;
  const auto& at = itemFields_.In(row);
  const bool left = row.FieldAt(bodyLeftField_.In(row)[0]).EqualsNumber(1);
  co_return MailItem{TakeHeader(row, at), TextOf(std::move(row.FieldAt(at[kAfterHeader]))), left};
}

std::unique_ptr<BodyReader> MailDropStore::OpenBody(std::int64_t itemId) {
  if (auto reader = handler_.OpenP3Body(itemId)) return reader;
  return std::make_unique<PieceReader>(handler_, itemId);
}

asio::awaitable<bool> MailDropStore::SetStatus(std::int64_t itemId, ItemStatus status) {
  co_return co_await handler_.UpdateP3ItemStatusAsync(itemId, StatusValue(status));
}

asio::awaitable<bool> MailDropStore::SetSessionStatus(const std::string& sessionId,
                                                      ItemStatus status, bool release) {
  co_return co_await handler_.SetP3ItemsStatusAsync(sessionId, StatusValue(status),
                                                    release ? -1 : 0);
}

asio::awaitable<bool> MailDropStore::RemoveDeleted(const std::string& sessionId) {
  co_return co_await handler_.RemoveP3ItemsAsync(sessionId);
}

}  // namespace talvex::data
