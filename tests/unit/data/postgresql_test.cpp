// What only the PostgreSQL backend has to show: the mail-drop lock between connections that
// race for one drop, the segments of one SMS arriving at two front-ends at once, network writers
// that add at once, schema set-up by front-ends that start together, a lost connection, and how
// values and failures come back. The procedures' behaviour itself is the conformance suites'
// business, which run on both engines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <barrier>
#include <chrono>
#include <functional>
#include <thread>

#include "data/backend.hpp"
#include "data/data_errors.hpp"
#include "data/postgresql_connection.hpp"
#include "data_support.hpp"

namespace talvex::test {
namespace {

class Postgresql : public OnPostgresql {};

using ::testing::HasSubstr;

std::string Drop(int round) {
  return "race" + std::to_string(round) + "@example.com";
}

// A front-end's own connection: the backend that the process default leads to.
std::unique_ptr<data::Backend> Connect(const Environment& env) {
  return data::CreateBackend(data::ResolveConnection("", env));
}

Recordset Evaluate(data::Backend& backend, const std::string& sql) {
  const data::BoundParameter statement{"SQLString", sql};
  return backend.Run("SMS_EvaluateSQL", {&statement, 1}, true);
}

TEST_F(Postgresql, OfTwoConnectionsRacingForADropsLockExactlyOneWins) {
  constexpr int kRounds = 40;
  // Enough items that checking the drop takes the lock's transaction a while: the racers overlap.
  constexpr int kItems = 300;
  {
    // Odd rounds race for a drop whose lock row exists already: a session that found the drop
    // empty left it, so it stands in no one's way; even rounds race to create the row.
    Session early(db_->Env());
    const std::string sessionC(32, 'C');
    for (int round = 0; round < kRounds; ++round) {
      if (round % 2 == 1) {
        ASSERT_TRUE(early.data.LockP3MailDrop(Drop(round), sessionC));
      }
      db_->Exec("INSERT INTO GatewayItems (ToAddress, Direction) SELECT '" + Drop(round) +
                "', 'O' FROM generate_series(1, " + std::to_string(kItems) + ")");
    }
  }
  std::barrier start(2);
  std::vector<bool> won[2];
  const auto frontEnd = [&](int side) {
    Session session(db_->Env());
    const std::string sessionId(32, side == 0 ? 'A' : 'B');
    session.data.GetP3UserDetails("");  // connected before the race starts
    for (int round = 0; round < kRounds; ++round) {
      start.arrive_and_wait();
      won[side].push_back(session.data.LockP3MailDrop(Drop(round), sessionId));
    }
  };
  std::thread a(frontEnd, 0), b(frontEnd, 1);
  a.join();
  b.join();
  int winsOfA = 0;
  for (int round = 0; round < kRounds; ++round) {
    EXPECT_NE(won[0][static_cast<std::size_t>(round)], won[1][static_cast<std::size_t>(round)])
        << "round " << round;
    winsOfA += won[0][static_cast<std::size_t>(round)] ? 1 : 0;
  }
  // Every drop's lock went to the session that won it, none to the other.
  EXPECT_EQ(
      db_->QueryInt("SELECT count(*) FROM MailDropLocks WHERE SessionID = '" + kSessionA + "'"),
      winsOfA);
  EXPECT_EQ(
      db_->QueryInt("SELECT count(*) FROM MailDropLocks WHERE SessionID = '" + kSessionB + "'"),
      kRounds - winsOfA);
}

// A session whose lock was taken over may still mark, remove or release while the takeover
// runs: the takeover holds the drop's lock row and undoes the marks on the drop's items, and
// the late call changes items, whose drop it locks first. Both must go through
// one after the other, whichever way round, never deadlock and fail.
TEST_F(Postgresql, LateCallsOfATakenOverSessionWaitForTheTakeover) {
  const std::string drop = "late@example.com";
  struct LateCall {
    const char* name;
    std::function<bool(DataHandler&, const std::string& item)> call;
  };
  const std::vector<LateCall> calls = {
      {"DELE", [](DataHandler& data,
                  const std::string& item) { return data.UpdateP3ItemStatus(item, "5"); }},
      {"QUIT's removal",
       [](DataHandler& data, const std::string&) { return data.RemoveP3Items(kSessionA); }},
      {"release", [](DataHandler& data, const std::string&) {
         return data.SetP3ItemsStatus(kSessionA, "0", "-1");
       }}};
  Session stale(db_->Env());
  for (const LateCall& late : calls) {
    SCOPED_TRACE(late.name);
    const std::string item = WriteItem(stale.data, drop);
    ASSERT_TRUE(stale.data.LockP3MailDrop(drop, kSessionA));
    ASSERT_TRUE(stale.data.UpdateP3ItemStatus(item, "5"));
    data::pg::Connection takeover(db_->Env().database);
    takeover.ExecuteScript("BEGIN; SELECT 1 FROM MailDropLocks WHERE Address = '" + drop +
                           "' FOR UPDATE");
    bool lateDone = false;
    std::thread lateCall([&] { lateDone = late.call(stale.data, item); });
    // The late call is under way once it waits for a lock of the takeover's.
    for (int i = 0; i < 500 && db_->QueryInt("SELECT count(*) FROM pg_stat_activity WHERE "
                                             "wait_event_type = 'Lock' AND query LIKE '%P3%'") == 0;
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::string takeoverFailure;
    try {
      takeover.ExecuteScript("UPDATE MailDropLocks SET SessionID = '" + kSessionB +
                             "' WHERE Address = '" + drop +
                             "'; UPDATE GatewayItems SET Status = 0, SessionID = NULL WHERE GWQID "
                             "= " +
                             item + "; COMMIT");
    } catch (const data::pg::Error& error) {
      takeoverFailure = error.what();
    }
    lateCall.join();
    EXPECT_EQ(takeoverFailure, "");
    EXPECT_TRUE(lateDone) << (stale.log.empty() ? "" : stale.log.back().message);
    // The takeover undid the mark first, so nothing of the drop is removed or left to the dead
    // session; a late DELE marks the item for the session that holds the drop now.
    EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM GatewayItems WHERE GWQID = " + item), 1);
    EXPECT_EQ(
        db_->QueryInt("SELECT count(*) FROM GatewayItems WHERE SessionID = '" + kSessionA + "'"),
        0);
    db_->Exec("DELETE FROM GatewayItems; DELETE FROM MailDropLocks");
  }
}

// Each front-end caches one of the two segments of every message at the same moment; neither
// may miss the other's segment, or the message is never assembled.
TEST_F(Postgresql, SmsWhoseSegmentsArriveTogetherIsAssembledOnce) {
  constexpr int kMessages = 100;
  std::barrier start(2);
  const auto frontEnd = [&](int side) {
    Session session(db_->Env());
    session.data.GetP3UserDetails("");  // connected before the race starts
    SmsSegmentRecord segment;
    segment.dtReceived = "2026-12-07 10:00:00";
    segment.segmentCount = "2";
    segment.segmentNumber = std::to_string(side + 1);
    segment.body = side == 0 ? "a" : "b";
    segment.direction = "I";
    for (int message = 0; message < kMessages; ++message) {
      segment.segmentHash = "race-" + std::to_string(message);
      segment.segmentHash.resize(32, '-');
      start.arrive_and_wait();
      EXPECT_TRUE(session.data.WriteSMSSegment(segment)) << message;
    }
  };
  std::thread a(frontEnd, 0), b(frontEnd, 1);
  a.join();
  b.join();
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM SMSQueue WHERE Body = 'ab'"), kMessages);
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM SMSSegmentCache WHERE SMSQID IS NULL"), 0);
}

// Networks, prefixes and cost bands are numbered by the highest number in use: two writers
// adding at once must each get a row of their own, never change the other's new one.
TEST_F(Postgresql, NetworkWritersAddingAtOnceEachGetARowOfTheirOwn) {
  constexpr int kRounds = 40;
  std::barrier start(2);
  std::vector<LogLine> logs[2];
  const auto writer = [&](int side) {
    Session session(db_->Env());
    session.data.GetNetworkList();  // connected before the race starts
    for (int round = 0; round < kRounds; ++round) {
      start.arrive_and_wait();
      session.data.WriteNetwork("0", "net-" + std::to_string(side) + "-" + std::to_string(round),
                                "");
    }
    logs[side] = session.log;
  };
  std::thread a(writer, 0), b(writer, 1);
  a.join();
  b.join();
  EXPECT_TRUE(logs[0].empty() && logs[1].empty());
  EXPECT_EQ(db_->QueryInt("SELECT count(DISTINCT NetworkName) FROM Networks"), 2 * kRounds);
}

TEST_F(Postgresql, FrontEndsStartingTogetherOnAnEmptySchemaAllCreateItOnce) {
  Environment fresh = db_->Env();
  const std::string schema = "fresh_" + std::to_string(getpid());
  db_->Exec("CREATE SCHEMA " + schema);
  fresh.database.replace(fresh.database.rfind("%3D") + 3, std::string::npos, schema);
  constexpr int kFrontEnds = 4;
  std::barrier start(kFrontEnds);
  std::vector<std::string> failures(kFrontEnds);
  std::vector<std::thread> frontEnds;
  for (int i = 0; i < kFrontEnds; ++i) {
    frontEnds.emplace_back([&, i] {
      const auto backend = Connect(fresh);
      start.arrive_and_wait();
      failures[static_cast<std::size_t>(i)] =
          Raised([&] { Evaluate(*backend, "SELECT 1"); }).Description();
    });
  }
  for (auto& frontEnd : frontEnds) frontEnd.join();
  for (const auto& failure : failures) EXPECT_EQ(failure, "no failure");
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM " + schema + ".SchemaVersion"),
            db_->QueryInt("SELECT count(*) FROM SchemaVersion"));
  db_->Exec("DROP SCHEMA " + schema + " CASCADE");
}

TEST_F(Postgresql, NewerSchemaThanTheProgramsIsRefused) {
  db_->Exec("INSERT INTO SchemaVersion (Version) VALUES (999)");
  const Failure failure = Raised([&] { Evaluate(*Connect(db_->Env()), "SELECT 1"); });
  EXPECT_TRUE(failure.Is(ErrorNumber::kDbUnavailable));
  EXPECT_THAT(failure.Description(), HasSubstr("schema version 999 is newer"));
}

TEST_F(Postgresql, LostConnectionFailsOneCallAndTheNextReconnects) {
  Environment env = db_->Env();
  const std::string name = "victim_" + std::to_string(getpid());
  env.database += "&application_name=" + name;
  const auto backend = Connect(env);
  ASSERT_EQ(Evaluate(*backend, "SELECT 1 AS one").RecordCount(), 1);
  db_->Exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '" +
            name + "'");
  EXPECT_TRUE(Raised([&] { Evaluate(*backend, "SELECT 1"); }).Is(ErrorNumber::kDbUnavailable));
  EXPECT_EQ(Evaluate(*backend, "SELECT 1 AS one").RecordCount(), 1);
}

TEST_F(Postgresql, ColumnsComeBackAsTheEmbeddedDatabaseGivesThem) {
  const auto backend = Connect(db_->Env());
  const Recordset row = Evaluate(
      *backend,
      "SELECT 7::smallint AS \"Small\", 9000000000::bigint AS \"Big\", 1.5::float8 AS \"Real\", "
      "2.25::numeric AS \"Decimal\", 'caf\u00e9' AS \"Text\", NULL::integer AS \"Nothing\", "
      "true AS \"Flag\", '2024-01-02'::date AS \"Day\"");
  ASSERT_EQ(row.RecordCount(), 1);
  EXPECT_EQ(row.Fields("small"), Variant(std::int64_t{7}));
  EXPECT_EQ(row.Fields("Big"), Variant(std::int64_t{9000000000}));
  EXPECT_EQ(row.Fields("Real"), Variant(1.5));
  EXPECT_EQ(row.Fields("Decimal"), Variant(2.25));
  EXPECT_EQ(row.Fields("Text"), Variant("caf\u00e9"));
  EXPECT_TRUE(row.Fields("Nothing").IsNull());
  EXPECT_EQ(row.Fields("Flag"), Variant(std::int64_t{1}));
  EXPECT_EQ(row.Fields("Day"), Variant("2024-01-02"));
}

struct FailureCase {
  const char* what;
  const char* procedure;
  std::vector<std::pair<const char*, data::BoundValue>> parameters;
  ErrorNumber number;
  const char* description;
};

TEST_F(Postgresql, FailuresComeWithTheDataAccessSourceAndTheNumberOfTheirKind) {
  const auto backend = Connect(db_->Env());
  const std::vector<FailureCase> cases = {
      {"unknown procedure",
       "SMS_NoSuchThing",
       {},
       ErrorNumber::kDbCommand,
       "Could not find stored procedure 'SMS_NoSuchThing'"},
      {"the procedure's own refusal",
       "SMS_GetP3MailDrop",
       {{"EmailAddress", std::string("a@example.com")}, {"SessionID", kSessionA}},
       ErrorNumber::kDbCommand,
       "SMS_GetP3MailDrop: Session AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA does not hold the lock"},
      {"parameter missing",
       "SMS_GetP3MailItem",
       {},
       ErrorNumber::kDbCommand,
       "SMS_GetP3MailItem expects parameter 'GWQID', which was not supplied"},
      {"parameter unknown",
       "SMS_RemoveP3Items",
       {{"SessionID", kSessionA}, {"Extra", std::int64_t{1}}},
       ErrorNumber::kDbCommand,
       "SMS_RemoveP3Items has no parameter 'Extra'"},
      {"value the server cannot convert",
       "SMS_GetP3MailItem",
       {{"gwqid", std::string("twelve")}},
       ErrorNumber::kDbProvider,
       "SMS_GetP3MailItem: invalid input syntax for type bigint"},
      {"statement the server cannot parse",
       "SMS_EvaluateSQL",
       {{"SQLString", std::string("SELEC 1")}},
       ErrorNumber::kDbProvider,
       "SMS_EvaluateSQL: syntax error"},
  };
  for (const FailureCase& c : cases) {
    std::vector<data::BoundParameter> bound;
    for (const auto& [name, value] : c.parameters) bound.push_back({name, value});
    const Failure failure = Raised([&] { backend->Run(c.procedure, bound, true); });
    EXPECT_EQ(failure.Source(), data::kDataAccessSource) << c.what;
    EXPECT_TRUE(failure.Is(c.number)) << c.what << ": " << failure.Number();
    EXPECT_THAT(failure.Description(), HasSubstr(c.description)) << c.what;
  }
  // A failed call leaves the connection usable.
  EXPECT_EQ(Evaluate(*backend, "SELECT 1").RecordCount(), 1);
}

}  // namespace
}  // namespace talvex::test
