// The SMS queue and the segment cache of multipart SMS (procedures in db/sqlite/sms.sql). A
// multipart message is collected segment by segment; the procedure that caches its last
// segment assembles it into one queue item.
#include "data/data_handler.hpp"
#include "data/descriptors.hpp"

namespace talvex {

using namespace descriptor;

namespace {

ParameterDescriptor Hash(const std::string& segmentHash) {
  return {"SegmentHash", AdType::kChar, 32, segmentHash};
}

// The keys by which the segment procedures select segments, in the order they take them.
std::vector<ParameterDescriptor> SegmentKeys(const std::string& segCacheId,
                                             const std::string& smsqId,
                                             const std::string& segmentHash) {
  return {Integer("SegCacheID", segCacheId), Integer("SMSQID", smsqId), Hash(segmentHash)};
}

// The caller's direction, defaulted in place when empty. assign(1, c): GCC 12 at -O3 misreads
// the assignment of a literal as an overlapping copy.
std::string& DefaultDirection(std::string& direction, char fallback) {
  if (direction.empty()) direction.assign(1, fallback);
  return direction;
}

}  // namespace

bool DataHandler::WriteSMSItem(const SmsItemRecord& item) {
  return ExecuteHandled("Unable to add SMS item due to a database error", "SMS_WriteSMSItem",
                        {DateOrEmpty("DTReceived", item.dtReceived),
                         Text("Source", 255, item.source),
                         Text("MessageID", 255, item.messageId),
                         Text("DataCoding", 255, item.dataCoding),
                         {"Content", AdType::kVarChar, 255, item.content},
                         Text("FromAddress", 255, item.fromAddress),
                         Text("FromName", 255, item.fromName),
                         Text("ToAddress", 4096, item.toAddress),
                         Text("Subject", 255, item.subject),
                         LongTextDescriptor("Body", item.body),
                         Text("RawData", 255, item.rawData),
                         Direction(item.direction),
                         SmallInt("Connector", item.connector),
                         DateOrEmpty("SendDT", item.sendDt)});
}

bool DataHandler::WriteSMSSegment(const SmsSegmentRecord& segment) {
  return ExecuteHandled("Unable to add SMS message segment due to a database error",
                        "SMS_WriteSMSSegment",
                        {{"DTReceived", AdType::kDate, 8, segment.dtReceived},
                         Text("Source", 255, segment.source),
                         Text("MessageID", 255, segment.messageId),
                         Text("DataCoding", 50, segment.dataCoding),
                         Text("Content", 255, segment.content),
                         Text("FromAddress", 255, segment.fromAddress),
                         Text("ToAddress", 4000, segment.toAddress),
                         Hash(segment.segmentHash),
                         SmallInt("SegmentReference", segment.segmentReference),
                         SmallInt("SegmentCount", segment.segmentCount),
                         SmallInt("SegmentNumber", segment.segmentNumber),
                         LongTextDescriptor("Body", segment.body),
                         Text("RawData", 255, segment.rawData),
                         Direction(segment.direction),
                         SmallInt("Connector", segment.connector),
                         SmallInt("Status", segment.status)});
}

bool DataHandler::UpdateSMSSegment(const std::string& smsqId, const std::string& toAddress,
                                   const std::string& body, const std::string& segment,
                                   const std::string& status) {
  return ExecuteHandled(
      "", "SMS_UpdateSMSSegment",
      {Integer("SMSQID", smsqId), Text("ToAddress", 4000, toAddress),
       LongTextDescriptor("Body", body), SmallInt("Segment", segment), SmallInt("Status", status)});
}

Recordset DataHandler::GetSMSSegments(const std::string& segCacheId, const std::string& smsqId,
                                      const std::string& segmentHash) {
  return Query("SMS_GetSMSSegments", SegmentKeys(segCacheId, smsqId, segmentHash));
}

bool DataHandler::RemoveSMSSegments(const std::string& segCacheId, const std::string& smsqId,
                                    const std::string& segmentHash) {
  return ExecuteHandled("Unable to remove SMS message segment due to a database error",
                        "SMS_RemoveSMSSegments", SegmentKeys(segCacheId, smsqId, segmentHash));
}

Recordset DataHandler::GetSMSItem(const std::string& itemId) {
  return QueryHandled("Unable to retrieve SMS item due to a database error", "SMS_GetSMSItem",
                      {Integer("SMSQID", itemId)});
}

Recordset DataHandler::GetSMSItems(const std::string& direction) {
  return Query("SMS_GetSMSItems", {Direction(direction)});
}

Recordset DataHandler::GetSMSItemData(const std::string& smsqId, const std::string& segCacheId,
                                      const std::string& segmentHash) {
  return Query("SMS_GetSMSItemData",
               {Integer("SMSQID", smsqId), Integer("SegCacheID", segCacheId), Hash(segmentHash)});
}

bool DataHandler::RemoveSMSItem(std::string itemId) {
  return ExecuteHandled("Unable to remove SMS item due to a database error", "SMS_RemoveSMSItem",
                        {{"ItemID", AdType::kInteger, 4, std::move(itemId)}});
}

bool DataHandler::SetSMSItemStatus(const std::string& smsItem, const std::string& itemStatus,
                                   const std::string& sendDt, const std::string& lastError,
                                   const std::string& subject) {
  return ExecuteHandled(
      "Unable to change SMS item status due to a database error", "SMS_SetSMSItemStatus",
      {Integer("ItemID", smsItem), SmallInt("Status", itemStatus), DateOrEmpty("SendDT", sendDt),
       SmallInt("LastError", lastError), Text("Subject", 255, subject)});
}

bool DataHandler::QuerySMSQueue(Recordset& smsItems, std::string& direction) {
  smsItems = QueryHandled("Unable to retrieve SMS items due to a database error",
                          "SMS_QuerySMSQueue", {Direction(DefaultDirection(direction, 'O'))});
  return smsItems.IsOpen();
}

Recordset DataHandler::GetSMSQStats(const std::string& direction) {
  return Query("SMS_GetSMSQStats", {Direction(direction)});
}

bool DataHandler::ReviveSMSItems(const std::string& direction) {
  return ExecuteHandled("", "SMS_ReviveSMSItems", {Direction(direction)});
}

bool DataHandler::UpdateSMSToAddress(const std::string& itemId, const std::string& toAddress) {
  return ExecuteHandled("", "SMS_UpdateSMSToAddress",
                        {Integer("ItemID", itemId), Text("ToAddress", 4000, toAddress)});
}

bool DataHandler::GetDeadSMSItems(Recordset& deadItems, std::string& direction,
                                  const std::string& /*retryTime*/) {
  deadItems = QueryHandled("Unable to retrieve Dead SMS items due to a database error",
                           "SMS_GetDeadSMSItems", {Direction(DefaultDirection(direction, 'O'))});
  return deadItems.IsOpen();
}

bool DataHandler::GetDeadSMSItems(Recordset& deadItems) {
  std::string direction;
  return GetDeadSMSItems(deadItems, direction);
}

bool DataHandler::GetStaleSMSSegments(Recordset& staleItems, std::string& direction,
                                      const std::string& itemTimeOut) {
  staleItems = QueryHandled(
      "Unable to retrieve stale SMS item segments due to a database error",
      "SMS_GetStaleSMSSegments",
      {Direction(DefaultDirection(direction, 'I')), Integer("ItemTimeOut", itemTimeOut)});
  return staleItems.IsOpen();
}

}  // namespace talvex
