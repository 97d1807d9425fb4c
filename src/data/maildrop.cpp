// The operations of the POP3 mail drop. What the procedures do with the lock and the item
// statuses is kept in db/sqlite/maildrop.sql. Each operation's call is built by one function
// below, which its blocking and its awaited form share.
#include "data/data_handler.hpp"

namespace talvex {

namespace {

constexpr std::string_view kStatusMessage =
    "Unable to set POP3 item status due to a database error";

ParameterDescriptor SessionDescriptor(const std::string& sessionId) {
  return {"SessionID", AdType::kChar, 32, sessionId};
}

ParameterDescriptor DropDescriptor(const std::string& emailAddress) {
  return {"EmailAddress", AdType::kVarChar, 255, emailAddress};
}

ProcedureCall UserDetailsCall(const std::string& logonName) {
  return {"SMS_GetP3UserDetails", {{"LogonName", AdType::kVarChar, 255, logonName}}, {}};
}

// An empty identifier stands for "no process": the database then stores NULL.
ParameterDescriptor InstanceDescriptor(const std::string& instanceId) {
  return {"InstanceID", AdType::kChar, 32,
          instanceId.empty() ? Variant::Null() : Variant(instanceId)};
}

ProcedureCall LockCall(const std::string& emailAddress, const std::string& sessionId,
                       const std::string& instanceId) {
  return {
      "SMS_LockP3MailDrop",
      {DropDescriptor(emailAddress), SessionDescriptor(sessionId), InstanceDescriptor(instanceId)},
      "Unable to lock POP3 mail drop to a database connectivity error"};
}

ProcedureCall MailDropCall(const std::string& emailAddress, const std::string& sessionId) {
  return {"SMS_GetP3MailDrop", {DropDescriptor(emailAddress), SessionDescriptor(sessionId)}, {}};
}

ProcedureCall MailItemCall(const Variant& itemId) {
  return {"SMS_GetP3MailItem", {{"GWQID", AdType::kInteger, 4, itemId}}, {}};
}

ProcedureCall ItemsStatusCall(const std::string& sessionId, const Variant& status,
                              const Variant& clearItems) {
  return {"SMS_SetP3ItemsStatus",
          {SessionDescriptor(sessionId),
           {"Status", AdType::kSmallInt, 2, status},
           {"ClearItems", AdType::kSmallInt, 2, clearItems}},
          kStatusMessage};
}

ProcedureCall RemoveItemsCall(const std::string& sessionId) {
  return {"SMS_RemoveP3Items",
          {SessionDescriptor(sessionId)},
          "Unable to remove POP3 mail item due to a database error"};
}

ProcedureCall ItemStatusCall(const Variant& itemId, const Variant& status) {
  return {"SMS_UpdateP3ItemStatus",
          {{"ItemID", AdType::kInteger, 4, itemId}, {"Status", AdType::kSmallInt, 2, status}},
          kStatusMessage};
}

ProcedureCall ItemStatsCall(const Variant& itemId) {
  return {"SMS_GetP3ItemStats", {{"GWQID", AdType::kInteger, 4, itemId}}, {}};
}

ProcedureCall MailItemUpToCall(std::int64_t itemId, std::int64_t bodyUpTo) {
  return {"SMS_GetP3MailItemUpTo",
          {{"GWQID", AdType::kInteger, 4, Variant(itemId)},
           {"BodyUpTo", AdType::kInteger, 4, Variant(bodyUpTo)}},
          {}};
}

ProcedureCall BodyPieceCall(std::int64_t itemId, std::int64_t start, std::int64_t count) {
  return {"SMS_GetP3BodyPiece",
          {{"GWQID", AdType::kInteger, 4, Variant(itemId)},
           {"Start", AdType::kInteger, 4, Variant(start)},
           {"Count", AdType::kInteger, 4, Variant(count)}},
          {}};
}

ProcedureCall DropStatsCall(const std::string& itemIds) {
  return {"SMS_GetP3DropStats", {LongTextDescriptor("ItemIDs", itemIds)}, {}};
}

ProcedureCall DropDigestsCall(const std::string& emailAddress) {
  return {"SMS_GetP3DropDigests", {DropDescriptor(emailAddress)}, {}};
}

ProcedureCall DropChangesCall(const std::string& emailAddress, const std::string& sessionId) {
  return {"SMS_GetP3DropChanges", {DropDescriptor(emailAddress), SessionDescriptor(sessionId)}, {}};
}

ProcedureCall BeatCall(const ServerInstance& instance) {
  return {"SMS_BeatP3Instance",
          {InstanceDescriptor(instance.instanceId),
           {"HostName", AdType::kVarChar, 255, instance.hostName},
           {"ProcessID", AdType::kInteger, 4, Variant(instance.processId)}},
          "Unable to renew the POP3 server's heartbeat due to a database error"};
}

ProcedureCall RemoveInstanceCall(const std::string& instanceId) {
  return {"SMS_RemoveP3Instance",
          {InstanceDescriptor(instanceId)},
          "Unable to remove the POP3 server's registration due to a database error"};
}

}  // namespace

Recordset DataHandler::GetP3UserDetails(const std::string& logonName) {
  return Query(UserDetailsCall(logonName));
}

bool DataHandler::LockP3MailDrop(const std::string& emailAddress, const std::string& sessionId,
                                 const std::string& instanceId) {
  return ExecuteHandled(LockCall(emailAddress, sessionId, instanceId));
}

Recordset DataHandler::GetP3MailDrop(const std::string& emailAddress,
                                     const std::string& sessionId) {
  return Query(MailDropCall(emailAddress, sessionId));
}

Recordset DataHandler::GetP3MailItem(const Variant& itemId) {
  return Query(MailItemCall(itemId));
}

bool DataHandler::SetP3ItemsStatus(const std::string& sessionId, const Variant& status,
                                   const Variant& clearItems) {
  return ExecuteHandled(ItemsStatusCall(sessionId, status, clearItems));
}

bool DataHandler::RemoveP3Items(const std::string& sessionId) {
  return ExecuteHandled(RemoveItemsCall(sessionId));
}

bool DataHandler::UpdateP3ItemStatus(const Variant& itemId, const Variant& status) {
  return ExecuteHandled(ItemStatusCall(itemId, status));
}

Recordset DataHandler::GetP3ItemStats(const Variant& itemId) {
  return Query(ItemStatsCall(itemId));
}

Recordset DataHandler::GetP3DropStats(const std::string& itemIds) {
  return Query(DropStatsCall(itemIds));
}

Recordset DataHandler::GetP3DropDigests(const std::string& emailAddress) {
  return Query(DropDigestsCall(emailAddress));
}

Recordset DataHandler::GetP3DropChanges(const std::string& emailAddress,
                                        const std::string& sessionId) {
  return Query(DropChangesCall(emailAddress, sessionId));
}

bool DataHandler::BeatP3Instance(const ServerInstance& instance) {
  return ExecuteHandled(BeatCall(instance));
}

bool DataHandler::RemoveP3Instance(const std::string& instanceId) {
  return ExecuteHandled(RemoveInstanceCall(instanceId));
}

// The awaited forms build their call before they return, so the caller's arguments need not
// outlive the call.
asio::awaitable<Recordset> DataHandler::GetP3UserDetailsAsync(const std::string& logonName) {
  return QueryAsync(UserDetailsCall(logonName));
}

asio::awaitable<bool> DataHandler::LockP3MailDropAsync(const std::string& emailAddress,
                                                       const std::string& sessionId,
                                                       const std::string& instanceId) {
  return ExecuteHandledAsync(LockCall(emailAddress, sessionId, instanceId));
}

asio::awaitable<LockResult> DataHandler::LockP3MailDropOutcomeAsync(const std::string& emailAddress,
                                                                    const std::string& sessionId,
                                                                    const std::string& instanceId) {
  return LockOutcomeAsync(LockCall(emailAddress, sessionId, instanceId));
}

// Both engines turn a procedure's own refusal into kDbCommand; every other failure is the
// engine's or the connection's.
asio::awaitable<LockResult> DataHandler::LockOutcomeAsync(ProcedureCall call) {
  try {
    Recordset rows = co_await dataAccess_.RunProcedureQueryAsync(
        std::string(call.procedure), connectionString_, kCmdStoredProc, std::move(call.parameters));
    co_return LockResult{.outcome = LockOutcome::kLocked, .rows = std::move(rows)};
  } catch (const Failure& failure) {
    ReportError(call.failureMessage, failure);
    co_return LockResult{.outcome = failure.Is(ErrorNumber::kDbCommand) ? LockOutcome::kInUse
                                                                        : LockOutcome::kFailed};
  }
}

asio::awaitable<Recordset> DataHandler::GetP3MailDropAsync(const std::string& emailAddress,
                                                           const std::string& sessionId) {
  return QueryAsync(MailDropCall(emailAddress, sessionId));
}

asio::awaitable<Recordset> DataHandler::GetP3MailItemAsync(const Variant& itemId) {
  return QueryAsync(MailItemCall(itemId));
}

asio::awaitable<bool> DataHandler::SetP3ItemsStatusAsync(const std::string& sessionId,
                                                         const Variant& status,
                                                         const Variant& clearItems) {
  return ExecuteHandledAsync(ItemsStatusCall(sessionId, status, clearItems));
}

asio::awaitable<bool> DataHandler::RemoveP3ItemsAsync(const std::string& sessionId) {
  return ExecuteHandledAsync(RemoveItemsCall(sessionId));
}

asio::awaitable<bool> DataHandler::UpdateP3ItemStatusAsync(const Variant& itemId,
                                                           const Variant& status) {
  return ExecuteHandledAsync(ItemStatusCall(itemId, status));
}

asio::awaitable<Recordset> DataHandler::GetP3ItemStatsAsync(const Variant& itemId) {
  return QueryAsync(ItemStatsCall(itemId));
}

asio::awaitable<Recordset> DataHandler::GetP3DropStatsAsync(const std::string& itemIds) {
  return QueryAsync(DropStatsCall(itemIds));
}

asio::awaitable<Recordset> DataHandler::GetP3DropDigestsAsync(const std::string& emailAddress) {
  return QueryAsync(DropDigestsCall(emailAddress));
}

asio::awaitable<Recordset> DataHandler::GetP3DropChangesAsync(const std::string& emailAddress,
                                                              const std::string& sessionId) {
  return QueryAsync(DropChangesCall(emailAddress, sessionId));
}

asio::awaitable<Recordset> DataHandler::GetP3MailItemUpToAsync(std::int64_t itemId,
                                                               std::int64_t bodyUpTo) {
  return QueryAsync(MailItemUpToCall(itemId, bodyUpTo));
}

asio::awaitable<Recordset> DataHandler::GetP3BodyPieceAsync(std::int64_t itemId, std::int64_t start,
                                                            std::int64_t count) {
  return QueryAsync(BodyPieceCall(itemId, start, count));
}

std::unique_ptr<data::BodyReader> DataHandler::OpenP3Body(std::int64_t itemId) {
  return dataAccess_.OpenBody(connectionString_, itemId);
}

asio::awaitable<bool> DataHandler::BeatP3InstanceAsync(const ServerInstance& instance) {
  return ExecuteHandledAsync(BeatCall(instance));
}

asio::awaitable<bool> DataHandler::RemoveP3InstanceAsync(const std::string& instanceId) {
  return ExecuteHandledAsync(RemoveInstanceCall(instanceId));
}

}  // namespace talvex
