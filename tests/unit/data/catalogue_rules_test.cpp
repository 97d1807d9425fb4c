// The edges of the catalogue operations that the table's rows leave out: the counter's number
// formats, the joined database version, ReadConfItem's default and the NoUpdate rule of
// WriteConfItem, the connection argument, and the statement texts of EvaluateSQL.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "data/data_errors.hpp"
#include "data_support.hpp"
#include "recording_backend.hpp"

namespace talvex::test {
namespace {

using ::testing::HasSubstr;

TEST(CatalogueRules, CounterTravelsWithoutLeadingZerosAndZeroAsZero) {
  struct Case {
    const char* counter;
    const char* sent;
  };
  // "000" is sent as "0"; otherwise the format "#", which leaves nothing of a zero.
  for (const Case& c : {Case{"000", "0"}, Case{"012", "12"}, Case{"0", ""}, Case{"-03", "-3"}}) {
    const auto engine = std::make_shared<RecordingBackend>();
    FakeSession fake(engine);
    fake.session->data.WriteNMQMsgID("+1", c.counter, "m");
    fake.session->data.UpdateNMQMsgID("+1", c.counter, "m");
    ASSERT_EQ(engine->calls.size(), 2u);
    for (const RecordedCall& call : engine->calls) {
      EXPECT_EQ(call.descriptors.at(1).value, Variant(c.sent)) << call.procedure << c.counter;
    }
  }
}

TEST(CatalogueRules, CounterIsThreeDigitsAndComesRound) {
  const auto db = MakeSqliteTestDatabase();
  db->Exec("INSERT INTO NMQCounters VALUES ('+2', 998)");
  Session session(db->Env());
  EXPECT_EQ(session.data.GetNMQCounter("+1"), "001");  // a new address starts at 1
  EXPECT_EQ(session.data.GetNMQCounter("+2"), "999");
  EXPECT_EQ(session.data.GetNMQCounter("+2"), "000");
  // The identifier written under "000" is found under that counter again.
  EXPECT_EQ(session.data.WriteNMQMsgID("+2", "000", "ID-zero"), Variant(true));
  EXPECT_EQ(session.data.GetNMQMsgID("+2", "000"), "ID-zero");
  EXPECT_EQ(session.data.GetNMQMsgID("+2", "001"), "");  // none kept: the empty text
  EXPECT_TRUE(session.log.empty());
}

TEST(CatalogueRules, DatabaseVersionJoinsTheVersionRowOrTakesTheArgumentsDatabase) {
  struct Case {
    const char* row;  // the Version row, or null for none
    std::int16_t version;
  };
  for (const Case& c : {Case{"'2', '03', '1'", 2031}, Case{"'2', 'x', '1'", 0},
                        Case{"NULL, '0', '7'", 7}, Case{nullptr, 0}}) {
    const auto db = MakeSqliteTestDatabase();
    db->Exec("DROP TABLE Version; CREATE TABLE Version (Release, Version, Revision)");
    if (c.row) db->Exec(std::string("INSERT INTO Version VALUES (") + c.row + ")");
    Session session(db->Env());
    EXPECT_EQ(session.data.GetDatabaseVersion(), c.version) << (c.row ? c.row : "no row");
  }
  const auto home = MakeSqliteTestDatabase();
  const auto other = MakeSqliteTestDatabase();
  other->Exec("UPDATE Version SET Version = '4'");
  Session session(home->Env());
  session.data.ConnectionString("mysql://nowhere");
  EXPECT_NO_THROW(session.data.TestConnection(""));
  EXPECT_EQ(session.data.GetDatabaseVersion(""), 231);
  EXPECT_EQ(
      session.data.GetDatabaseVersion("sqlite:" + other->Env().EmbeddedDatabasePath().string()),
      241);
  const Failure refused = Raised([&] { session.data.TestConnection("mysql://nowhere"); });
  EXPECT_THAT(refused.Description(), HasSubstr("neither sqlite:PATH"));
  EXPECT_TRUE(session.log.empty());
}

TEST(CatalogueRules, ReadConfItemsDefaultAndNoUpdateOfAMissingItem) {
  const auto db = MakeSqliteTestDatabase();
  db->Exec(
      "INSERT INTO Configuration (ConfCat, ConfName, ConfValue) VALUES ('A', 'set', 'v'), "
      "('A', 'empty', ''), ('A', 'null', NULL)");
  Session session(db->Env());
  for (const char* name : {"empty", "null", "absent"}) {
    EXPECT_EQ(session.data.ReadConfItem("A", name, "d"), "d") << name;
  }
  EXPECT_EQ(session.data.ReadConfItem("B", "set", "d"), "d");  // the category counts too
  // NoUpdate keeps an existing item only; without it the item is changed, not added again.
  EXPECT_TRUE(session.data.WriteConfItem("A", "added", "new", true));
  EXPECT_TRUE(session.data.WriteConfItem("A", "set", "new", false));
  EXPECT_EQ(session.data.ReadConfItem("A", "added", ""), "new");
  EXPECT_EQ(session.data.ReadConfItem("A", "set", ""), "new");
  EXPECT_EQ(db->QueryInt("SELECT count(*) FROM Configuration"), 4);
  EXPECT_TRUE(session.log.empty());
}

TEST(CatalogueRules, EvaluateSqlRunsEachTextAsGiven) {
  const auto db = MakeSqliteTestDatabase();
  Session session(db->Env());
  session.data.EvaluateSQL("CREATE TABLE Scratch (a INTEGER)");
  session.data.EvaluateSQL("INSERT INTO Scratch VALUES (41)");
  EXPECT_EQ(db->QueryInt("SELECT a FROM Scratch"), 41);
  const Failure bad = Raised([&] { session.data.EvaluateSQL("SELECT missing FROM nowhere"); });
  EXPECT_EQ(bad.Number(), static_cast<std::int32_t>(ErrorNumber::kDbProvider));
  EXPECT_THAT(bad.Description(), HasSubstr("no such table: nowhere"));
  EXPECT_TRUE(session.log.empty());
}

}  // namespace
}  // namespace talvex::test
