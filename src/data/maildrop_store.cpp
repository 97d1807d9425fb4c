// Typed mail-drop calls: the DataHandler operation, then its row read into a struct.
#include "data/maildrop_store.hpp"

namespace talvex::data {

namespace {

std::optional<std::string> TextOf(const Variant& value) {
  if (value.IsNull()) return std::nullopt;
  return value.TextOrEmpty();
}

ItemHeader HeaderOf(const Recordset& row) {
  return {TextOf(row.Fields("DTReceived")), TextOf(row.Fields("Subject")),
          TextOf(row.Fields("Content")),    TextOf(row.Fields("MessageID")),
          TextOf(row.Fields("FromName")),   TextOf(row.Fields("FromAddress")),
          TextOf(row.Fields("ToAddress"))};
}

ItemStats StatsOfRow(const Recordset& row) {
  const Variant& length = row.Fields("BodyLength");
  return {HeaderOf(row), length.IsNull() ? std::nullopt : std::optional(length.ToInt32())};
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

Variant StatusValue(ItemStatus status) {
  return Variant(static_cast<int>(status));
}

}  // namespace

MailDropStore::MailDropStore(const Environment& env, std::shared_ptr<BackendPool> pool, LogSink log)
    : handler_(env, std::move(pool)) {
  handler_.SetEventLog(std::move(log));
}

asio::awaitable<std::optional<UserAccount>> MailDropStore::FindUser(const std::string& logonName) {
  const Recordset user = co_await handler_.GetP3UserDetailsAsync(logonName);
  if (user.RecordCount() == 0) co_return std::nullopt;
  // A null digest or identifier is a damaged record: reading it raises, as a log-in must not
  // go on with it. A disabled account is refused before anything else is read.
  UserAccount account;
  account.disabled = user.Fields("AcctDisabled").EqualsNumber(1);
  if (!account.disabled) {
    account.userId = user.Fields("UserID").ToText();
    account.userPassword = user.Fields("UserPassword").ToText();
    account.email = TextOf(user.Fields("Email"));
  }
  co_return account;
}

asio::awaitable<bool> MailDropStore::Lock(const std::string& email, const std::string& sessionId) {
  co_return co_await handler_.LockP3MailDropAsync(email, sessionId);
}

asio::awaitable<std::vector<std::int64_t>> MailDropStore::ListItems(const std::string& email,
                                                                    const std::string& sessionId) {
  Recordset drop = co_await handler_.GetP3MailDropAsync(email, sessionId);
  std::vector<std::int64_t> ids;
  ids.reserve(static_cast<std::size_t>(drop.RecordCount()));
  for (drop.MoveFirst(); !drop.Eof(); drop.MoveNext())
    ids.push_back(drop.Fields("GWQID").ToInt64());
  co_return ids;
}

asio::awaitable<std::optional<ItemStats>> MailDropStore::Stats(std::int64_t itemId) {
  const Recordset row = co_await handler_.GetP3ItemStatsAsync(itemId);
  if (row.RecordCount() == 0) co_return std::nullopt;
  co_return StatsOfRow(row);
}

asio::awaitable<std::vector<ItemStatsRow>> MailDropStore::StatsOf(
    const std::vector<std::int64_t>& itemIds) {
  const std::string list = IdList(itemIds);
  Recordset rows = co_await handler_.GetP3DropStatsAsync(list);
  std::vector<ItemStatsRow> stats;
  stats.reserve(static_cast<std::size_t>(rows.RecordCount()));
  for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext())
    stats.push_back({rows.Fields("GWQID").ToInt64(), StatsOfRow(rows)});
  co_return stats;
}

asio::awaitable<std::optional<MailItem>> MailDropStore::Load(std::int64_t itemId) {
  const Recordset row = co_await handler_.GetP3MailItemAsync(itemId);
  if (row.RecordCount() == 0) co_return std::nullopt;
  co_return MailItem{HeaderOf(row), TextOf(row.Fields("Body"))};
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
