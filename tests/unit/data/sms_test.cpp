// The edges of the SMS operations that the catalogue rows leave out: the assembly of multipart
// messages in the segment cache, and an item's way through waiting, failed and revived. Each
// case runs once per backend.
#include <gtest/gtest.h>

#include "catalogue_cases.hpp"
#include "data_support.hpp"
#include "platform/date_text.hpp"

namespace talvex::test {
namespace {

constexpr const char* kDate = "2026-12-07 10:00:00";

SmsItemRecord Item(const char* toAddress, const char* direction, const std::string& sendDt = {}) {
  SmsItemRecord item;
  item.toAddress = toAddress;
  item.direction = direction;
  item.sendDt = sendDt;
  return item;
}

SmsSegmentRecord Segment(const char* number, const char* body, const char* date = kDate) {
  SmsSegmentRecord segment;
  segment.dtReceived = date;
  segment.fromAddress = "+447700900300";
  segment.segmentHash.assign(32, 'h');
  segment.segmentReference = "42";
  segment.segmentCount = "3";
  segment.segmentNumber = number;
  segment.body = body;
  segment.direction = "I";
  return segment;
}

class SmsQueue : public OnEachBackend {};

TEST_P(SmsQueue, SegmentsAssembleIntoOneItemOnceAllAreCached) {
  Session session(db_->Env());
  DataHandler& data = session.data;
  const std::string hash(32, 'h');
  // Out of order, and a repeated segment keeps its first copy.
  ASSERT_TRUE(data.WriteSMSSegment(Segment("2", "b", "2026-12-07 09:59:00")));
  ASSERT_TRUE(data.WriteSMSSegment(Segment("1", "a")));
  ASSERT_TRUE(data.WriteSMSSegment(Segment("2", "repeated")));
  EXPECT_EQ(data.GetSMSItemData("", "", hash).RecordCount(), 0);
  EXPECT_EQ(Column(data.GetSMSSegments("", "", hash), "Body"), "a,b");
  // A segment outside its message does not fit.
  EXPECT_FALSE(data.WriteSMSSegment(Segment("4", "x")));
  ASSERT_EQ(session.log.size(), 1u);

  ASSERT_TRUE(data.WriteSMSSegment(Segment("3", "c")));
  Recordset item = data.GetSMSItemData("", "", hash);
  ASSERT_EQ(item.RecordCount(), 1);
  EXPECT_EQ(item.Fields("Body").ToText(), "abc");
  EXPECT_EQ(item.Fields("DTReceived").ToText(), "2026-12-07 09:59:00");  // the earliest segment
  EXPECT_EQ(item.Fields("Direction").ToText(), "I");
  EXPECT_EQ(item.Fields("Status").ToText(), "0");
  EXPECT_EQ(item.Fields("FromAddress").ToText(), "+447700900300");
  const std::string id = item.Fields("SMSQID").ToText();
  EXPECT_EQ(Column(data.GetSMSSegments("", id, ""), "SegmentNumber"), "1,2,3");
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM SMSQueue"), 1);

  // The reference comes round: the same hash starts a new message, stale once its first
  // segment is older than the time-out (60 minutes when none is given).
  ASSERT_TRUE(data.WriteSMSSegment(Segment("1", "next", "2000-01-01 00:00:00")));
  std::string direction = "I";
  Recordset stale;
  ASSERT_TRUE(data.GetStaleSMSSegments(stale, direction, ""));
  EXPECT_EQ(Column(stale, "Body"), "next");
  ASSERT_TRUE(data.GetStaleSMSSegments(stale, direction, "99999999"));
  EXPECT_EQ(stale.RecordCount(), 0);

  // Removing segments takes a key; the item takes its own segments with it.
  EXPECT_TRUE(data.RemoveSMSSegments());
  EXPECT_EQ(data.GetSMSSegments().RecordCount(), 4);
  EXPECT_TRUE(data.RemoveSMSItem(id));
  EXPECT_EQ(Column(data.GetSMSSegments(), "Body"), "next");
  EXPECT_EQ(session.log.size(), 1u);
}

TEST_P(SmsQueue, FailedItemsAreDeadUntilRevived) {
  Session session(db_->Env());
  DataHandler& data = session.data;
  const std::string start = NowText();
  // Whether the item's field holds a local time of the text form taken since the start.
  const auto stampedNow = [&](const char* id, const char* field) {
    const std::string stamp = data.GetSMSItem(id).Fields(field).TextOrEmpty();
    return ReadDateTime(stamp, DateReading::kTextForm) && start <= stamp && stamp <= NowText();
  };
  ASSERT_TRUE(data.WriteSMSItem(Item("+1", "O")));
  EXPECT_TRUE(stampedNow("1", "DTReceived"));
  ASSERT_TRUE(data.WriteSMSItem(Item("+2", "O", "2999-01-01 00:00:00")));
  ASSERT_TRUE(data.WriteSMSItem(Item("+3", "I")));
  std::string out = "O";
  std::string in = "I";
  Recordset rows;
  const auto queued = [&](std::string& direction) {
    data.QuerySMSQueue(rows, direction);
    return Column(rows, "ToAddress");
  };
  const auto dead = [&](std::string& direction) {
    data.GetDeadSMSItems(rows, direction);
    return Column(rows, "ToAddress");
  };
  const auto deadOutbound = [&] {  // without a direction: the outbound ones
    data.GetDeadSMSItems(rows);
    return Column(rows, "ToAddress");
  };
  EXPECT_EQ(queued(out), "+1");  // the other waits for its send date
  ASSERT_TRUE(data.SetSMSItemStatus("1", "3", "", "21"));
  ASSERT_TRUE(data.SetSMSItemStatus("3", "3", "", "5"));
  EXPECT_EQ(queued(out), "");
  EXPECT_EQ(deadOutbound(), "+1");
  EXPECT_EQ(data.GetSMSItem("1").Fields("LastError").ToText(), "21");
  EXPECT_TRUE(stampedNow("1", "StatusDT"));

  ASSERT_TRUE(data.ReviveSMSItems("O"));
  EXPECT_EQ(queued(out), "+1");
  EXPECT_EQ(deadOutbound(), "");
  EXPECT_EQ(dead(in), "+3");  // the other direction is left as it is
  // A status change without a send date keeps the stored one.
  ASSERT_TRUE(data.SetSMSItemStatus("2", "0"));
  EXPECT_EQ(data.GetSMSItem("2").Fields("SendDT").ToText(), "2999-01-01 00:00:00");
  // An item that is not there gives an open record set without rows.
  EXPECT_EQ(data.GetSMSItem("99").RecordCount(), 0);
  EXPECT_TRUE(session.log.empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, SmsQueue, kEachBackend, BackendName);

}  // namespace
}  // namespace talvex::test
