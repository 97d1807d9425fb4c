// What every backend's mail-drop procedures must do, on a real database: the lock, the listing,
// marks, RSET, removal and release, as POP3 sessions use them. Each case runs once per backend.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "data_support.hpp"

namespace talvex::test {
namespace {

using ::testing::HasSubstr;

const std::string kAlice = "alice@example.com";
using Idents = std::vector<std::string>;

// A POP3 session: its handler, its identifier and the calls it makes on a drop.
struct Client : Session {
  Client(const Environment& env, char id, std::string instance = {})
      : Session(env), sessionId(32, id), instanceId(std::move(instance)) {}
  bool Lock(const std::string& drop = kAlice) {
    return data.LockP3MailDrop(drop, sessionId, instanceId);
  }
  Idents List(const std::string& drop = kAlice) { return Ids(data.GetP3MailDrop(drop, sessionId)); }
  bool Mark(const std::string& id, const char* status) {
    return data.UpdateP3ItemStatus(id, status);
  }
  bool Rset() { return data.SetP3ItemsStatus(sessionId, "4", "0"); }
  bool Release() { return data.SetP3ItemsStatus(sessionId, "0", "-1"); }
  // How many of the two item queries return the item.
  std::int64_t Found(const std::string& id) {
    return data.GetP3ItemStats(id).RecordCount() + data.GetP3MailItem(id).RecordCount();
  }
  std::string sessionId;
  std::string instanceId;  // the server process it runs in; empty for none
};

// A server process as the heartbeat procedures see it.
ServerInstance Process(char id, std::int32_t pid = 4242) {
  return {std::string(32, id), "host-" + std::string(1, id), pid};
}

class MailDropConformance : public OnEachBackend {
 protected:
  std::string Item(const std::string& to = kAlice, const std::string& body = "b",
                   const std::string& direction = "O") {
    return WriteItem(writer_, to, body, direction);
  }
  std::int64_t Count(const std::string& where, const char* table = "GatewayItems") {
    return db_->QueryInt(std::string("SELECT count(*) FROM ") + table + " WHERE " + where);
  }
  const Environment& Env() const { return db_->Env(); }

  DataHandler writer_{db_->Env()};
};

// A POP3 user's record, found by its name without regard to case, is read through the store
// on both backends (maildrop_store_test.cpp); what only the procedure decides is who is one.
TEST_P(MailDropConformance, UserRecordOfPop3UsersOnly) {
  db_->Exec(
      "INSERT INTO Users (UserID, LogonName, UserPassword, Email, POP3User, AcctDisabled) VALUES "
      "('FEDCBA9876543210FEDCBA9876543210', 'web', 'X', 'web@example.com', 0, 0)");
  Session session(Env());
  EXPECT_EQ(session.data.GetP3UserDetails("web").RecordCount(), 0);
}

TEST_P(MailDropConformance, OneSessionHoldsADropUntilItReleasesIt) {
  Item();
  Client a(Env(), 'A'), b(Env(), 'B');
  ASSERT_TRUE(a.Lock());
  EXPECT_FALSE(b.Lock("ALICE@example.com"));
  ASSERT_EQ(b.log.size(), 1u);
  EXPECT_THAT(b.log[0].message,
              HasSubstr("-2147217900. SMS_LockP3MailDrop: Mail drop ALICE@example.com is locked"));
  EXPECT_TRUE(b.Lock("bob@example.com"));  // other drops stay free
  EXPECT_TRUE(a.Lock());                   // the holder renews
  EXPECT_THROW(b.List(), Failure);         // only the holder may list
  EXPECT_TRUE(a.Release());
  EXPECT_TRUE(b.Lock());
  EXPECT_FALSE(a.Lock());
}

// A QUIT on an empty drop sends no release; such a lock must not keep the drop from the
// user's next session, nor from mail that arrives meanwhile.
TEST_P(MailDropConformance, LockOfAnEmptyDropDoesNotBlockTheNextSession) {
  Client a(Env(), 'A'), b(Env(), 'B');
  ASSERT_TRUE(a.Lock());
  EXPECT_TRUE(a.List().empty());
  const std::string arrived = Item();
  ASSERT_TRUE(b.Lock());
  EXPECT_EQ(b.List(), Idents{arrived});
  EXPECT_FALSE(a.Lock());  // now B serves an item
  // A holder that found its drop empty but lists what arrived since serves it from then on.
  const std::string carol = "carol@example.com";
  ASSERT_TRUE(a.Lock(carol));
  const std::string late = Item(carol);
  EXPECT_EQ(a.List(carol), Idents{late});
  EXPECT_FALSE(b.Lock(carol));
}

TEST_P(MailDropConformance, StaleLockIsTakenOverWithEverythingItHeld) {
  const Idents items = {Item(), Item()};
  Client a(Env(), 'A'), b(Env(), 'B');
  ASSERT_TRUE(a.Lock());
  ASSERT_EQ(a.List(), items);
  ASSERT_TRUE(a.Mark(items[0], "5"));
  // A dies here. Its lock holds for 15 minutes, and is then taken over with what A held.
  db_->Exec("UPDATE MailDropLocks SET LockTime = LockTime - 14 * 60");
  EXPECT_FALSE(b.Lock());
  db_->Exec("UPDATE MailDropLocks SET LockTime = LockTime - 2 * 60");
  ASSERT_TRUE(b.Lock());
  EXPECT_EQ(b.List(), items);
  EXPECT_EQ(b.Found(items[0]), 2);
  // A late release of the dead session touches nothing of B's.
  EXPECT_TRUE(a.Release());
  EXPECT_EQ(b.List(), items);
  EXPECT_FALSE(a.Lock());
}

TEST_P(MailDropConformance, ListingIsTheDropInStorageOrder) {
  const std::string i1 = Item();
  Item("bob@example.com");
  const std::string i3 = Item("ALICE@EXAMPLE.COM");
  Item(kAlice, "inbound", "I");
  const std::string i5 = Item("Alice@Example.com");
  Client a(Env(), 'A');
  ASSERT_TRUE(a.Lock());
  EXPECT_EQ(a.List(), (Idents{i1, i3, i5}));
  // Listing writes no item: a log-in costs the same whatever the size of the drop.
  EXPECT_EQ(Count("SessionID IS NULL AND Status = 0"), 5);
}

TEST_P(MailDropConformance, MarksVanishUntilRsetAndQuitRemovesOnlyTheSessionsMarkedItems) {
  const Idents mine = {Item(), Item(), Item()};
  const Idents bobs = {Item("bob@example.com"), Item("bob@example.com")};
  Client a(Env(), 'A'), b(Env(), 'B');
  ASSERT_TRUE(a.Lock() && b.Lock("bob@example.com"));
  ASSERT_EQ(a.List(), mine);
  ASSERT_EQ(b.List("bob@example.com"), bobs);
  // DELE, and RETR with forced deletion.
  const auto mark = [&] { return a.Mark(mine[0], "5") && a.Mark(mine[1], "6"); };
  ASSERT_TRUE(mark());
  EXPECT_EQ(a.Found(mine[0]) + a.Found(mine[1]), 0);
  EXPECT_EQ(a.Found(mine[2]), 2);
  ASSERT_TRUE(a.Rset());
  for (const auto& back : mine) EXPECT_EQ(a.Found(back), 2) << back;
  EXPECT_EQ(a.List(), mine);

  ASSERT_TRUE(mark() && b.Mark(bobs[0], "5"));
  ASSERT_TRUE(a.data.RemoveP3Items(a.sessionId) && a.Release());
  EXPECT_EQ(Count("GWQID IN (" + mine[0] + ", " + mine[1] + ")"), 0);
  EXPECT_EQ(Count("GWQID = " + mine[2] + " AND Status = 0"), 1);
  EXPECT_EQ(Count("GWQID = " + bobs[0] + " AND Status = 5"), 1);
  EXPECT_EQ(Count("GWQID = " + bobs[1]), 1);
  EXPECT_TRUE(a.log.empty());
  Client c(Env(), 'C');
  ASSERT_TRUE(c.Lock());
  EXPECT_EQ(c.List(), Idents{mine[2]});
}

// A release gives back every mark of the session, and a lock undoes every mark that another
// session, or none, left on the drop; both leave alone a drop without such marks.
TEST_P(MailDropConformance, ReleaseAndLockUndoExactlyTheMarksLeftBehind) {
  const Idents items = {Item(), Item(), Item()};
  const std::string bobs = Item("bob@example.com");
  Client a(Env(), 'A'), b(Env(), 'B'), c(Env(), 'C');
  ASSERT_TRUE(a.Lock() && c.Lock("bob@example.com"));
  ASSERT_EQ(a.List(), items);
  ASSERT_TRUE(a.Mark(items[0], "5") && a.Mark(items[1], "6") && c.Mark(bobs, "5"));
  ASSERT_TRUE(a.Release());  // a session that ends without QUIT
  EXPECT_EQ(Count("GWQID IN (" + items[0] + ", " + items[1] + ") AND Status = 0"), 2);
  EXPECT_EQ(Count("SessionID IS NOT NULL"), 1);  // bob's mark stays with its session
  // A mark without a session (left by an older server, say) is undone by the next lock.
  db_->Exec("UPDATE GatewayItems SET Status = 5 WHERE GWQID = " + items[2]);
  ASSERT_TRUE(b.Lock());
  EXPECT_EQ(b.List(), items);
  EXPECT_TRUE(b.Release());
  EXPECT_EQ(Count("Status = 0"), 3);
}

TEST_P(MailDropConformance, ItemRowsCarryTheStoredFieldsAndWireSize) {
  // In Windows-1252 "€" and "é" are one octet each, "日", "本" and the emoji one "?" each.
  const std::string body = "Price 5\u20AC, caf\u00E9, \u65E5\u672C \U0001F600\r\n";
  const std::string id = Item(kAlice, body);
  Session session(Env());
  const Recordset item = session.data.GetP3MailItem(id);
  const Recordset stats = session.data.GetP3ItemStats(id);
  ASSERT_EQ(item.RecordCount() + stats.RecordCount(), 2);
  EXPECT_EQ(item.Fields("Body"), Variant(body));
  EXPECT_TRUE(stats.Fields("BodyLength").EqualsNumber(22));
  for (const char* field :
       {"MessageID", "DTReceived", "Subject", "Content", "FromName", "FromAddress", "ToAddress"}) {
    EXPECT_EQ(stats.Fields(field), item.Fields(field)) << field;
  }
}

// The one-call listing must answer for every item exactly as the item-by-item read does, also
// for items removed, marked, taken over by another session or belonging to another drop.
TEST_P(MailDropConformance, DropStatsAnswerEachItemAsItemStatsDoes) {
  const Idents items = {Item(), Item(), Item(), Item(), Item()};
  const std::string bobs = Item("bob@example.com");
  Client a(Env(), 'A'), b(Env(), 'B');
  ASSERT_TRUE(a.Lock());
  ASSERT_EQ(a.List(), items);
  ASSERT_TRUE(a.Mark(items[1], "5") && a.Mark(items[2], "6"));
  db_->Exec("DELETE FROM GatewayItems WHERE GWQID = " + items[3]);
  db_->Exec("UPDATE GatewayItems SET Subject = 'changed', BodyLength = 77 WHERE GWQID = " +
            items[4]);
  const auto compare = [&](const std::string& list, const Idents& shown) {
    Recordset rows = a.data.GetP3DropStats(list);
    EXPECT_EQ(Ids(rows), shown) << list;
    for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) {
      const Recordset single = a.data.GetP3ItemStats(rows.Fields("GWQID").ToText());
      ASSERT_EQ(single.RecordCount(), 1);
      for (const char* field : {"GWQID", "MessageID", "DTReceived", "Subject", "Content",
                                "FromName", "FromAddress", "ToAddress", "BodyLength"}) {
        EXPECT_EQ(rows.Fields(field), single.Fields(field)) << field;
      }
    }
  };
  // In any order given, rows come by GWQID; ids never stored give nothing.
  compare(items[4] + "," + bobs + "," + items[0] + ",999999," + items[3] + "," + items[2] + "," +
              items[1],
          {items[0], items[4], bobs});
  compare("", {});
  compare(items[1], {});
  // A stale takeover claims the marked items back; the dead session still sees them.
  db_->Exec("UPDATE MailDropLocks SET LockTime = LockTime - 16 * 60");
  ASSERT_TRUE(b.Lock());
  compare(items[0] + "," + items[1] + "," + items[2] + "," + items[4],
          {items[0], items[1], items[2], items[4]});
}

// The digests stand for the fields: the same rows as the full listing with the same digest,
// and a digest that changes with any listed field, null and empty told apart, and with nothing
// else (the status a session writes, say); the one stored with an item equals the one worked out.
TEST_P(MailDropConformance, DropDigestsChangeWithTheListedFieldsOnly) {
  const Idents items = {Item(), Item(), Item()};
  Client a(Env(), 'A');
  ASSERT_TRUE(a.Lock());
  const std::string list = items[0] + "," + items[1] + "," + items[2];
  int atHand = 0;  // digests the drop's digests gave rather than left to the full rows
  const auto digests = [&] {
    std::map<std::string, std::string> byId;
    Recordset full = a.data.GetP3DropStats(list);
    for (full.MoveFirst(); !full.Eof(); full.MoveNext()) {
      byId[full.Fields("GWQID").ToText()] = full.Fields("Digest").ToText();
    }
    Recordset rows = a.data.GetP3DropDigests(kAlice);
    EXPECT_EQ(Ids(rows), Ids(full));
    atHand = 0;
    for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) {
      if (rows.Fields("Digest").IsNull()) continue;
      EXPECT_EQ(rows.Fields("Digest").ToText(), byId[rows.Fields("GWQID").ToText()]);
      ++atHand;
    }
    return byId;
  };
  const auto before = digests();
  ASSERT_EQ(before.size(), 3u);
  EXPECT_EQ(atHand, 3);  // every item written by the procedures
  ASSERT_TRUE(a.Mark(items[2], "4"));
  EXPECT_EQ(digests(), before);
  for (const char* change : {"Subject = 'changed'", "BodyLength = 77", "MessageID = ''",
                             "MessageID = NULL", "ToAddress = 'ALICE@example.com'"}) {
    const auto was = digests();
    db_->Exec(std::string("UPDATE GatewayItems SET ") + change + " WHERE GWQID = " + items[0]);
    const auto now = digests();
    EXPECT_NE(now.at(items[0]), was.at(items[0])) << change;
    EXPECT_EQ(now.at(items[1]), was.at(items[1])) << change;
  }
  // The digest an item was written with is the one its fields give when worked out again.
  const auto written = digests().at(items[1]);
  const std::string second = " WHERE GWQID = " + items[1];
  db_->Exec("UPDATE GatewayItems SET Subject = Subject || 'x'" + second);
  db_->Exec("UPDATE GatewayItems SET Subject = substr(Subject, 1, length(Subject) - 1)" + second);
  EXPECT_EQ(digests().at(items[1]), written);
  ASSERT_TRUE(a.Mark(items[1], "5"));
  EXPECT_EQ(digests().count(items[1]), 0u);
}

// A lock lives as long as its server process beats: a beat renews it, also when it comes late;
// once the beat is a minute old, or the process has removed itself in an orderly stop, the
// lock is stale however young it is, and is taken over with what it held.
TEST_P(MailDropConformance, LockOfAProcessThatStoppedBeatingIsTakenOverAfterAMinute) {
  const Idents items = {Item(), Item()};
  Session process(Env());
  ASSERT_TRUE(process.data.BeatP3Instance(Process('1')));
  ASSERT_TRUE(process.data.BeatP3Instance(Process('2')));
  Client a(Env(), 'A', Process('1').instanceId), b(Env(), 'B', Process('2').instanceId);
  ASSERT_TRUE(a.Lock());
  ASSERT_EQ(a.List(), items);
  ASSERT_TRUE(a.Mark(items[1], "5"));
  EXPECT_EQ(Count("InstanceID = '" + a.instanceId + "'", "MailDropLocks"), 1);
  const std::string first = " WHERE InstanceID = '" + a.instanceId + "'";
  db_->Exec("UPDATE P3Instances SET Heartbeat = Heartbeat - 65" + first);
  ASSERT_TRUE(process.data.BeatP3Instance(Process('1')));  // late, but it renews the lock
  db_->Exec("UPDATE P3Instances SET Heartbeat = Heartbeat - 50" + first);
  EXPECT_FALSE(b.Lock());  // 50 s without a beat: still alive
  db_->Exec("UPDATE P3Instances SET Heartbeat = Heartbeat - 15" + first);
  ASSERT_TRUE(b.Lock());
  EXPECT_EQ(b.List(), items);
  EXPECT_EQ(b.Found(items[1]), 2);
  EXPECT_EQ(Count("InstanceID = '" + b.instanceId + "'", "MailDropLocks"), 1);
  EXPECT_FALSE(a.Lock());  // B's process beats
  // A process the database does not know keeps no lock: its session's lock is stale at once.
  Client unknown(Env(), 'U', Process('9').instanceId), c(Env(), 'C');
  EXPECT_FALSE(unknown.Lock());
  ASSERT_TRUE(process.data.RemoveP3Instance(b.instanceId));
  ASSERT_TRUE(unknown.Lock());
  ASSERT_EQ(unknown.List(), items);
  EXPECT_TRUE(c.Lock());
  EXPECT_EQ(c.List(), items);
}

// Locks taken without a process go stale by their age alone, whatever the heartbeats say.
TEST_P(MailDropConformance, LockWithoutAProcessKeepsTheFifteenMinuteRule) {
  Item();
  Session process(Env());
  ASSERT_TRUE(process.data.BeatP3Instance(Process('1')));
  Client a(Env(), 'A'), b(Env(), 'B', Process('1').instanceId);
  ASSERT_TRUE(a.Lock());
  ASSERT_EQ(a.List().size(), 1u);
  db_->Exec("UPDATE P3Instances SET Heartbeat = Heartbeat - 3600");
  db_->Exec("UPDATE MailDropLocks SET LockTime = LockTime - 14 * 60");
  EXPECT_FALSE(b.Lock());
  db_->Exec("UPDATE MailDropLocks SET LockTime = LockTime - 2 * 60");
  EXPECT_TRUE(b.Lock());
}

// The first beat registers the process with its start; later beats move the heartbeat only.
// A beat clears the rows of processes silent for a day; a removal takes its own row only.
TEST_P(MailDropConformance, BeatsRegisterRenewAndClearAwayTheLongDead) {
  Session process(Env());
  ASSERT_TRUE(process.data.BeatP3Instance(Process('1', 101)));
  ASSERT_TRUE(process.data.BeatP3Instance(Process('2', 102)));
  EXPECT_EQ(db_->QueryInt("SELECT ProcessID FROM P3Instances WHERE HostName = 'host-2'"), 102);
  db_->Exec("UPDATE P3Instances SET Heartbeat = Heartbeat - 600, StartTime = StartTime - 900");
  ASSERT_TRUE(process.data.BeatP3Instance(Process('1', 101)));
  const std::string one = "InstanceID = '" + Process('1').instanceId + "'";
  EXPECT_EQ(Count(one + " AND Heartbeat - StartTime BETWEEN 899 AND 905", "P3Instances"), 1);
  EXPECT_EQ(Count("1 = 1", "P3Instances"), 2);
  db_->Exec("UPDATE P3Instances SET Heartbeat = Heartbeat - 86400 WHERE HostName = 'host-2'");
  ASSERT_TRUE(process.data.BeatP3Instance(Process('3', 103)));
  EXPECT_EQ(Count("HostName = 'host-2'", "P3Instances"), 0);
  ASSERT_TRUE(process.data.RemoveP3Instance(Process('3').instanceId));
  EXPECT_EQ(Count("1 = 1", "P3Instances"), 1);
  EXPECT_EQ(Count(one, "P3Instances"), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, MailDropConformance, kEachBackend, BackendName);

}  // namespace
}  // namespace talvex::test
