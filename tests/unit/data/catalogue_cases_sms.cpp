// The catalogue rows of the SMS queue and its segment cache (see catalogue_cases.hpp).
#include "catalogue_cases.hpp"

namespace talvex::test {

namespace {

// Hashes of two incomplete messages: one whose first segment is long past, one fresh. The seed
// dates what is fresh ahead of any clock, so that no age reaches it on either engine.
constexpr const char* kStaleHash = "sms-stale-0000000000000000000002";
constexpr const char* kFreshHash = "sms-fresh-0000000000000000000003";

SmsItemRecord Item() {
  return {.dtReceived = "2026-12-07 10:00:00",
          .source = "sms-test",
          .messageId = "sms-m1",
          .content = "text/plain",
          .fromAddress = "sms-+447700900100",
          .fromName = "Sender",
          .toAddress = "sms-+447700900009",
          .subject = "Hi",
          .body = "hello",
          .direction = "O",
          .rawData = "",
          .connector = "2",
          .dataCoding = "0",
          .sendDt = ""};  // no send date: at once
}

// The third and last segment of the stale message.
SmsSegmentRecord LastSegment() {
  return {.dtReceived = "2026-12-07 10:00:00",
          .source = "sms-test",
          .messageId = "sms-m2",
          .dataCoding = "0",
          .content = "",
          .fromAddress = "sms-+447700900200",
          .toAddress = "sms-+447700900201",
          .segmentHash = kStaleHash,
          .segmentReference = "8",
          .segmentCount = "3",
          .segmentNumber = "3",
          .body = "three",
          .rawData = "",
          .direction = "I",
          .connector = "1",
          .status = "0"};
}

std::vector<CatalogueCase> WriteCases() {
  return {
      {"WriteSMSItem",
       [](DataHandler& d) { return Flag(d.WriteSMSItem(Item())); },
       {"True",
        "SELECT count(*) FROM SMSQueue WHERE ToAddress = 'sms-+447700900009' AND Status = 0 "
        "AND SendDT IS NULL AND DTReceived = '2026-12-07 10:00:00' AND Source = 'sms-test' AND "
        "MessageID = 'sms-m1' AND DataCoding = '0' AND Content = 'text/plain' AND "
        "FromAddress = 'sms-+447700900100' AND FromName = 'Sender' AND Subject = 'Hi' AND "
        "Body = 'hello' AND Direction = 'O' AND Connector = 2",
        1},
       {OnFailure::kLogged, "False", "Unable to add SMS item due to a database error"}},
      {"WriteSMSSegment",
       [](DataHandler& d) { return Flag(d.WriteSMSSegment(LastSegment())); },
       // The last segment completes the message: all three link to the assembled item (units),
       // and the segment is kept as written (tens).
       {"True",
        "SELECT (SELECT count(*) FROM SMSSegmentCache JOIN SMSQueue AS q USING (SMSQID) "
        "WHERE q.Body = 'one two three' AND q.Direction = 'I') + 10 * (SELECT count(*) FROM "
        "SMSSegmentCache WHERE SegmentNumber = 3 AND MessageID = 'sms-m2' AND "
        "Source = 'sms-test' AND DataCoding = '0' AND FromAddress = 'sms-+447700900200' AND "
        "ToAddress = 'sms-+447700900201' AND SegmentReference = 8 AND Body = 'three' AND "
        "Connector = 1)",
        13},
       {OnFailure::kLogged, "False", "Unable to add SMS message segment due to a database error"}},
      {"UpdateSMSSegment",
       [](DataHandler& d) {
         return Flag(d.UpdateSMSSegment("101", "sms-+447700900007", "changed", "2", "2"));
       },
       {"True",
        "SELECT SegCacheID FROM SMSSegmentCache WHERE Body = 'changed' AND Status = 2 "
        "AND ToAddress = 'sms-+447700900007'",
        202},
       {OnFailure::kLogged, "False"}},
      {"GetSMSSegments",
       [](DataHandler& d) { return Column(d.GetSMSSegments("", "101", ""), "SegCacheID"); },
       {"201,202"},
       {OnFailure::kRaised, ""}},
      {"RemoveSMSSegments",
       [](DataHandler& d) { return Flag(d.RemoveSMSSegments("", "", kFreshHash)); },
       {"True", "SELECT count(*) FROM SMSSegmentCache", 4},
       {OnFailure::kLogged, "False",
        "Unable to remove SMS message segment due to a database error"}},
  };
}

std::vector<CatalogueCase> ItemCases() {
  return {
      {"GetSMSItem",
       [](DataHandler& d) { return Listed(d.GetSMSItem("102"), "ToAddress"); },
       {"sms-+447700900002"},
       {OnFailure::kLogged, "unopened", "Unable to retrieve SMS item due to a database error"}},
      {"GetSMSItems",
       [](DataHandler& d) { return Column(d.GetSMSItems("I"), "SMSQID"); },
       {"104"},
       {OnFailure::kRaised, ""}},
      {"GetSMSItemData",
       [](DataHandler& d) { return Column(d.GetSMSItemData("", "202", ""), "Body"); },
       {"hello"},
       {OnFailure::kRaised, ""}},
      {"RemoveSMSItem",
       [](DataHandler& d) { return Flag(d.RemoveSMSItem("101")); },
       // The item's segments go with it.
       {"True", "SELECT count(*) FROM SMSSegmentCache WHERE SegCacheID IN (201, 202)", 0},
       {OnFailure::kLogged, "False", "Unable to remove SMS item due to a database error"}},
      {"SetSMSItemStatus",
       [](DataHandler& d) {
         return Flag(d.SetSMSItemStatus("101", "2", "2026-12-07 10:05:00", "", "Sent"));
       },
       {"True",
        "SELECT SMSQID FROM SMSQueue WHERE Status = 2 AND SendDT = '2026-12-07 10:05:00' "
        "AND Subject = 'Sent' AND LastError IS NULL",
        101},
       {OnFailure::kLogged, "False", "Unable to change SMS item status due to a database error"}},
  };
}

std::vector<CatalogueCase> QueueCases() {
  return {
      {"QuerySMSQueue",
       [](DataHandler& d) {
         Recordset rows = Stale();
         std::string direction;
         const bool result = d.QuerySMSQueue(rows, direction);
         return Filled(result, direction, rows, "SMSQID");
       },
       {"True|O|101"},  // 103 waits for its send date
       {OnFailure::kLogged, "False|O|unopened",
        "Unable to retrieve SMS items due to a database error"}},
      {"GetSMSQStats",
       [](DataHandler& d) {
         const Recordset stats = d.GetSMSQStats("O");
         return Column(stats, "Status") + "/" + Column(stats, "ItemCount");
       },
       {"0,2,3/2,1,1"},
       {OnFailure::kRaised, ""}},
      {"ReviveSMSItems",
       [](DataHandler& d) { return Flag(d.ReviveSMSItems("O")); },
       {"True", "SELECT count(*) FROM SMSQueue WHERE Status = 3", 1},  // 104 is inbound
       {OnFailure::kLogged, "False"}},
      {"UpdateSMSToAddress",
       [](DataHandler& d) { return Flag(d.UpdateSMSToAddress("102", "sms-+447700900777")); },
       {"True", "SELECT SMSQID FROM SMSQueue WHERE ToAddress = 'sms-+447700900777'", 102},
       {OnFailure::kLogged, "False"}},
      {"GetDeadSMSItems",
       [](DataHandler& d) {
         Recordset rows = Stale();
         std::string direction;
         const bool result = d.GetDeadSMSItems(rows, direction, "30");
         return Filled(result, direction, rows, "SMSQID");
       },
       {"True|O|102"},
       {OnFailure::kLogged, "False|O|unopened",
        "Unable to retrieve Dead SMS items due to a database error"}},
      {"GetStaleSMSSegments",
       [](DataHandler& d) {
         Recordset rows = Stale();
         std::string direction;
         const bool result = d.GetStaleSMSSegments(rows, direction, "60");
         return Filled(result, direction, rows, "SegCacheID");
       },
       {"True|I|203,204"},  // the whole message, also its recent segment
       {OnFailure::kLogged, "False|I|unopened",
        "Unable to retrieve stale SMS item segments due to a database error"}},
  };
}

std::vector<CatalogueCase> Cases() {
  std::vector<CatalogueCase> all = WriteCases();
  for (auto* part : {ItemCases, QueueCases}) {
    for (CatalogueCase& c : part()) all.push_back(std::move(c));
  }
  return all;
}

}  // namespace

CatalogueGroup SmsGroup() {
  return {Cases,
          "INSERT INTO SMSQueue (SMSQID, DTReceived, Source, ToAddress, Body, Direction, SendDT, "
          "Status, LastError) VALUES "
          "(101, '2026-12-01 09:00:00', 'sms-test', 'sms-+447700900001', 'hello', 'O', NULL, 0, "
          "NULL),"
          "(102, '2026-12-01 09:01:00', 'sms-test', 'sms-+447700900002', 'failed', 'O', NULL, 3, "
          "21),"
          "(103, '2026-12-01 09:02:00', 'sms-test', 'sms-+447700900003', 'later', 'O', "
          "'2999-01-01 00:00:00', 0, NULL),"
          "(104, '2026-12-01 09:03:00', 'sms-test', 'sms-+447700900004', 'in', 'I', NULL, 3, 5),"
          "(105, '2026-12-01 09:04:00', 'sms-test', 'sms-+447700900005', 'gone', 'O', "
          "'2026-12-01 09:05:00', 2, NULL);"
          "INSERT INTO SMSSegmentCache (SegCacheID, DTReceived, SegmentHash, SegmentReference, "
          "SegmentCount, SegmentNumber, Body, Direction, SMSQID) VALUES "
          "(201, '2026-12-01 08:59:00', 'sms-linked-000000000000000000001', 7, 2, 1, 'hel', 'O', "
          "101),"
          "(202, '2026-12-01 08:59:30', 'sms-linked-000000000000000000001', 7, 2, 2, 'lo', 'O', "
          "101),"
          // kStaleHash and kFreshHash.
          "(203, '2000-01-01 00:00:00', 'sms-stale-0000000000000000000002', 8, 3, 1, 'one ', 'I', "
          "NULL),"
          "(204, '2999-01-01 00:00:00', 'sms-stale-0000000000000000000002', 8, 3, 2, 'two ', 'I', "
          "NULL),"
          "(205, '2999-01-01 00:00:00', 'sms-fresh-0000000000000000000003', 9, 2, 1, 'new', 'I', "
          "NULL);"};
}

}  // namespace talvex::test
