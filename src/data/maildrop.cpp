// The operations of the POP3 mail drop. What the procedures do with the lock and the item
// statuses is kept in db/sqlite/maildrop.sql.
#include "data/data_handler.hpp"

namespace talvex {

namespace {

constexpr std::string_view kStatusMessage =
    "Unable to set POP3 item status due to a database error";

ParameterDescriptor SessionDescriptor(const std::string& SessionID) {
  return {"SessionID", AdType::kChar, 32, SessionID};
}

}  // namespace

Recordset DataHandler::GetP3UserDetails(const std::string& LogonName) {
  return Query("SMS_GetP3UserDetails", {{"LogonName", AdType::kVarChar, 255, LogonName}});
}

bool DataHandler::LockP3MailDrop(const std::string& EmailAddress, const std::string& SessionID) {
  return ExecuteHandled(
      "Unable to lock POP3 mail drop to a database connectivity error", "SMS_LockP3MailDrop",
      {{"EmailAddress", AdType::kVarChar, 255, EmailAddress}, SessionDescriptor(SessionID)});
}

Recordset DataHandler::GetP3MailDrop(const std::string& EmailAddress,
                                     const std::string& SessionID) {
  return Query("SMS_GetP3MailDrop", {{"EmailAddress", AdType::kVarChar, 255, EmailAddress},
                                     SessionDescriptor(SessionID)});
}

Recordset DataHandler::GetP3MailItem(const Variant& ItemID) {
  return Query("SMS_GetP3MailItem", {{"GWQID", AdType::kInteger, 4, ItemID}});
}

bool DataHandler::SetP3ItemsStatus(const std::string& SessionID, const Variant& Status,
                                   const Variant& ClearItems) {
  return ExecuteHandled(kStatusMessage, "SMS_SetP3ItemsStatus",
                        {SessionDescriptor(SessionID),
                         {"Status", AdType::kSmallInt, 2, Status},
                         {"ClearItems", AdType::kSmallInt, 2, ClearItems}});
}

bool DataHandler::RemoveP3Items(const std::string& SessionID) {
  return ExecuteHandled("Unable to remove POP3 mail item due to a database error",
                        "SMS_RemoveP3Items", {SessionDescriptor(SessionID)});
}

bool DataHandler::UpdateP3ItemStatus(const Variant& ItemID, const Variant& Status) {
  return ExecuteHandled(
      kStatusMessage, "SMS_UpdateP3ItemStatus",
      {{"ItemID", AdType::kInteger, 4, ItemID}, {"Status", AdType::kSmallInt, 2, Status}});
}

Recordset DataHandler::GetP3ItemStats(const Variant& ItemID) {
  return Query("SMS_GetP3ItemStats", {{"GWQID", AdType::kInteger, 4, ItemID}});
}

}  // namespace talvex
