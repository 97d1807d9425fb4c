// The operations of the POP3 mail drop. What the procedures do with the lock and the item
// statuses is kept in db/sqlite/maildrop.sql.
#include "data/data_handler.hpp"

namespace talvex {

namespace {

constexpr std::string_view kStatusMessage =
    "Unable to set POP3 item status due to a database error";

ParameterDescriptor SessionDescriptor(const std::string& sessionId) {
  return {"SessionID", AdType::kChar, 32, sessionId};
}

}  // namespace

Recordset DataHandler::GetP3UserDetails(const std::string& logonName) {
  return Query("SMS_GetP3UserDetails", {{"LogonName", AdType::kVarChar, 255, logonName}});
}

bool DataHandler::LockP3MailDrop(const std::string& emailAddress, const std::string& sessionId) {
  return ExecuteHandled(
      "Unable to lock POP3 mail drop to a database connectivity error", "SMS_LockP3MailDrop",
      {{"EmailAddress", AdType::kVarChar, 255, emailAddress}, SessionDescriptor(sessionId)});
}

Recordset DataHandler::GetP3MailDrop(const std::string& emailAddress,
                                     const std::string& sessionId) {
  return Query("SMS_GetP3MailDrop", {{"EmailAddress", AdType::kVarChar, 255, emailAddress},
                                     SessionDescriptor(sessionId)});
}

Recordset DataHandler::GetP3MailItem(const Variant& itemId) {
  return Query("SMS_GetP3MailItem", {{"GWQID", AdType::kInteger, 4, itemId}});
}

bool DataHandler::SetP3ItemsStatus(const std::string& sessionId, const Variant& status,
                                   const Variant& clearItems) {
  return ExecuteHandled(kStatusMessage, "SMS_SetP3ItemsStatus",
                        {SessionDescriptor(sessionId),
                         {"Status", AdType::kSmallInt, 2, status},
                         {"ClearItems", AdType::kSmallInt, 2, clearItems}});
}

bool DataHandler::RemoveP3Items(const std::string& sessionId) {
  return ExecuteHandled("Unable to remove POP3 mail item due to a database error",
                        "SMS_RemoveP3Items", {SessionDescriptor(sessionId)});
}

bool DataHandler::UpdateP3ItemStatus(const Variant& itemId, const Variant& status) {
  return ExecuteHandled(
      kStatusMessage, "SMS_UpdateP3ItemStatus",
      {{"ItemID", AdType::kInteger, 4, itemId}, {"Status", AdType::kSmallInt, 2, status}});
}

Recordset DataHandler::GetP3ItemStats(const Variant& itemId) {
  return Query("SMS_GetP3ItemStats", {{"GWQID", AdType::kInteger, 4, itemId}});
}

}  // namespace talvex
