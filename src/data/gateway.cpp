// The gateway-queue operations (procedures in db/sqlite/gateway.sql). Outbound items get their
// content description composed and their body encoded before they are stored, so that the
// POP3 session can serve them unchanged. The gateway's delivery then moves items between
// waiting, sent and dead, beside the mail-drop states that the POP3 sessions give them.
#include "data/data_handler.hpp"
#include "data/descriptors.hpp"
#include "platform/ansi.hpp"
#include "platform/resources.hpp"
#include "text/gateway_content.hpp"

namespace talvex {

using namespace descriptor;

namespace {

constexpr std::size_t kMaxHeaderText = 255;
// The queue's direction when the caller names none.
constexpr char kOutbound = 'O';

ParameterDescriptor ItemId(const std::string& itemId) {
  return {"ItemID", AdType::kInteger, 4, itemId};
}

}  // namespace

// The content settings of the gateway service, read once per object (an absent value reads as
// "0", so the cache never stays empty).
void DataHandler::ReadContentSettings() {
  const std::string key = resources::GatewayServiceKey();
  Variant value;
  regLib_.ReadRegValue(RegRoot::kLocalMachine, key, "ContentType", RegValueType::kText, 0, value);
  contentType_ = value.TextOrEmpty();
  regLib_.ReadRegValue(RegRoot::kLocalMachine, key, "ContTransEncoding", RegValueType::kText, 0,
                       value);
  contTransEncoding_ = value.TextOrEmpty();
}

bool DataHandler::WriteGWItem(const std::string& dtReceived, const std::string& source,
                              std::string& messageId, Variant& content,
                              const std::string& fromAddress, const std::string& fromName,
                              const std::string& toAddress, std::string& subject, std::string& body,
                              const std::string& direction, const std::string& rawData,
                              const std::string& transport, std::string* newItemId) {
  try {
    if (toAddress.empty()) return false;
    messageId = utf16::Prefix(messageId, kMaxHeaderText);
    subject = utf16::Prefix(subject, kMaxHeaderText);
    if (direction == "O") {
      if (contentType_.empty()) ReadContentSettings();
      const std::string requested = content.IsText() ? content.ToText() : std::string();
      GatewayContent composed =
          ComposeGatewayContent(requested, body, contentType_, contTransEncoding_);
      content = std::move(composed.content);
      body = std::move(composed.body);
    }
    const std::vector<ParameterDescriptor> parameters = {
        {"DTReceived", AdType::kVarChar, 255, dtReceived},
        {"Source", AdType::kVarChar, 255, source},
        {"MessageID", AdType::kVarChar, 255, messageId},
        {"Content", AdType::kVarChar, 255, content},
        {"FromAddress", AdType::kVarChar, 255, fromAddress},
        {"FromName", AdType::kVarChar, 255, fromName},
        {"ToAddress", AdType::kVarChar, 4096, toAddress},
        {"Subject", AdType::kVarChar, 255, subject},
        LongTextDescriptor("Body", body),
        {"Direction", AdType::kChar, 1, direction},
        {"RawData", AdType::kVarChar, 255, rawData},
        {"Transport", AdType::kSmallInt, 2, transport},
    };
    if (newItemId) {
      *newItemId = Query("SMS_WriteGWItem", parameters).Fields("GWQID").ToText();
    } else {
      Execute("SMS_WriteGWItem", parameters);
    }
    return true;
  } catch (const std::exception& error) {
    ReportError("Unable to add Gateway item due to a database error", ToFailure(error));
    return false;
  }
}

Recordset DataHandler::GetGWItems(const std::string& direction) {
  return Query("SMS_GetGWItems", {{"Direction", AdType::kChar, 1, direction}});
}

Recordset DataHandler::GetGWItem(const std::string& itemId) {
  return QueryHandled("Unable to retrieve GW item due to a database error", "SMS_GetGWItem",
                      {ItemId(itemId)});
}

bool DataHandler::RemoveGWItem(const std::string& itemId) {
  return ExecuteHandled("Unable to remove GW item due to a database error", "SMS_RemoveGWItem",
                        {ItemId(itemId)});
}

bool DataHandler::SetGWItemStatus(const std::string& gwItem, const std::string& itemStatus) {
  return ExecuteHandled(
      "Unable to change GW item status due to a database error", "SMS_SetGWItemStatus",
      {{"ItemID", AdType::kVarChar, 255, gwItem}, {"Status", AdType::kVarChar, 255, itemStatus}});
}

bool DataHandler::PurgeDeadGWItems(const std::string& direction) {
  return ExecuteHandled("", "SMS_PurgeDeadGWItems", {Direction(direction)});
}

bool DataHandler::QueryGWQueue(Recordset& gwItems, std::string& direction) {
  if (direction.empty()) direction.push_back(kOutbound);
  gwItems = QueryHandled("Unable to retrieve GW items due to a database error", "SMS_QueryGWQueue",
                         {Direction(direction)});
  return gwItems.IsOpen();
}

Recordset DataHandler::GetGWQStats(const std::string& direction) {
  return Query("SMS_GetGWQStats", {Direction(direction)});
}

bool DataHandler::ReviveGWItems(const std::string& direction) {
  return ExecuteHandled("", "SMS_ReviveGWItems", {Direction(direction)});
}

Variant DataHandler::UpdateGWToAddress(const std::string& itemId, const std::string& toAddress) {
  return ExecuteHandledVariant("", "SMS_UpdateGWToAddress",
                               {ItemId(itemId), {"ToAddress", AdType::kVarChar, 4000, toAddress}});
}

bool DataHandler::GetDeadGWItems(Recordset& deadItems, std::string& direction,
                                 const std::string& /*retryTime*/) {
  if (direction.empty()) direction.push_back(kOutbound);
  deadItems = QueryHandled("Unable to retrieve Dead GW items due to a database error",
                           "SMS_GetDeadGWItems", {Direction(direction)});
  return deadItems.IsOpen();
}

bool DataHandler::GetDeadGWItems(Recordset& deadItems) {
  std::string direction;
  return GetDeadGWItems(deadItems, direction);
}

}  // namespace talvex
