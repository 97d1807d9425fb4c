// The transaction-log operations on a real database: what is stored under each encryption
// setting and read back, the switch that turns the log off, status and extension items, the
// logged failures, and the upgrade of a database made before the log existed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "data/sql_catalog.hpp"
#include "data/trans_crypt.hpp"
#include "data_support.hpp"
#include "platform/resources.hpp"
#include "platform/sqlite.hpp"
#include "text/codecs.hpp"

namespace talvex::test {
namespace {

using ::testing::HasSubstr;

const std::string kMessageId = "0123456789ABCDEF0123456789ABCDEF";

class TransLog : public ::testing::Test {
 protected:
  // Writes a registry setting; nullptr deletes it.
  void Set(const char* name, const char* value) const {
    const RegLib registry(db_->Env());
    if (!value) {
      registry.DeleteRegValue(RegRoot::kLocalMachine, resources::DatabaseSettingsKey(), name);
      return;
    }
    registry.WriteRegValue(RegRoot::kLocalMachine, resources::DatabaseSettingsKey(), name,
                           RegValueType::kText, Variant(value));
  }
  static TransLogEntry Entry(std::string subject, std::string body, std::string content = "") {
    TransLogEntry entry;
    entry.transDt = "2026-12-05 01:27:37";
    entry.messageId = kMessageId;
    entry.content = std::move(content);
    entry.fromAddress = "+4712345678";
    entry.toAddress = "bob@example.org";
    entry.subject = std::move(subject);
    entry.body = std::move(body);
    entry.direction = "O";
    entry.status = "1";
    return entry;
  }
  // The newest stored record as the database holds it.
  Recordset Stored(Session& session) const {
    Recordset rows = session.data.GetTransLogs();
    rows.MoveFirst();
    return rows;
  }
  std::int64_t Records() const { return db_->QueryInt("SELECT count(*) FROM TransLog"); }
  std::unique_ptr<TestDatabase> db_ = MakeSqliteTestDatabase();
};

TEST_F(TransLog, WrittenRecordsReadBackUnderEachSetting) {
  const std::string longSubject(300, 's');
  const struct {
    const char* setting;  // "EncryptTrans"; nullptr: absent
    const char* content;
    std::string subject;
    std::string body;
    std::string storedBody;  // empty: the encrypted form of the body
    std::string readSubject;
    std::string readBody;
  } cases[] = {
      {nullptr, "Windows-1252", "Hi", "Grüße €", "", "Hi", "Grüße €"},
      {nullptr, "Unicode", "Ω", "Ωmega", "", "?", "Ωmega"},    // the body keeps its characters
      {nullptr, "unicode", "Hi", "Ωmega", "", "Hi", "?mega"},  // only "Unicode" does so
      {nullptr, "", longSubject, "b", "", longSubject.substr(0, 255), "b"},
      {"0", "Unicode", "Ω", "Ωmega", "Ωmega", "Ω", "Ωmega"},
      {"0", "", longSubject, "b", "b", longSubject.substr(0, 255), "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.setting ? c.setting : "absent") + " " + c.content);
    Set("EncryptTrans", c.setting);
    Session session(db_->Env());
    TransLogEntry entry = Entry(c.subject, c.body, c.content);
    ASSERT_TRUE(session.data.WriteTransLog(entry));
    EXPECT_EQ(entry.subject, c.subject);  // the caller's texts stay as they were
    const bool encrypted = c.setting == nullptr;
    Recordset stored = Stored(session);
    EXPECT_EQ(stored.Fields("Encrypted").ToInt32(), encrypted ? 1 : 0);
    const std::string body = std::string(c.content) == "Unicode" ? TextToHex(c.body) : c.body;
    EXPECT_EQ(stored.Fields("Body").ToText(),
              encrypted ? EncryptText(body, kMessageId) : c.storedBody);
    const std::string subject = stored.Fields("Subject").ToText();
    EXPECT_EQ(subject.size(), encrypted ? 2 * c.readSubject.size() : c.readSubject.size());
    Recordset item;
    ASSERT_TRUE(session.data.GetTransItem(kMessageId, "O", item));
    EXPECT_EQ(item.Fields("Subject").ToText(), c.readSubject);
    EXPECT_EQ(item.Fields("Body").ToText(), c.readBody);
  }
}

TEST_F(TransLog, CostIsNormalisedInTheCallersEntry) {
  const struct {
    const char* given;
    const char* kept;
    double stored;
  } cases[] = {{"", "0", 0}, {"abc", "0", 0}, {"1.25", "1.25", 1.25}};
  Session session(db_->Env());
  for (const auto& c : cases) {
    TransLogEntry entry = Entry("s", "b");
    entry.cost = c.given;
    ASSERT_TRUE(session.data.WriteTransLog(entry)) << c.given;
    EXPECT_EQ(entry.cost, c.kept);
    EXPECT_EQ(Stored(session).Fields("Cost").ToDouble(), c.stored) << c.given;
  }
}

TEST_F(TransLog, SwitchOffWritesNothingAndLeavesTheCallersRowsAlone) {
  Set("TLOff", "1");
  Session session(db_->Env());
  TransLogEntry entry = Entry("s", "b");
  EXPECT_TRUE(session.data.WriteTransLog(entry));
  EXPECT_TRUE(session.data.SetTLItemStatus("", "O", "3", kMessageId, "bob@example.org"));
  EXPECT_TRUE(session.data.SetTLExtItem(kMessageId, "Route", ""));
  Recordset untouched;
  EXPECT_TRUE(session.data.GetTransItem(kMessageId, "O", untouched));
  EXPECT_FALSE(untouched.IsOpen());
  EXPECT_EQ(Records(), 0);
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM TransLogExtItems"), 0);
  EXPECT_TRUE(session.log.empty());
}

TEST_F(TransLog, StatusCostAndExtensionItems) {
  Session session(db_->Env());
  TransLogEntry entry = Entry("s", "b");
  entry.cost = "2";
  ASSERT_TRUE(session.data.WriteTransLog(entry));
  ASSERT_TRUE(session.data.SetTLItemStatus("", "O", "7", kMessageId, "BOB@example.org"));
  EXPECT_EQ(db_->QueryInt("SELECT Status FROM TransLog"), 7);
  EXPECT_EQ(db_->QueryInt("SELECT Cost FROM TransLog"), 0);  // an empty cost is 0.00
  ASSERT_TRUE(session.data.SetTLItemStatus("2026-12-06 10:00", "O", "8", kMessageId,
                                           "bob@example.org", "3.5"));
  EXPECT_EQ(db_->QueryInt("SELECT Cost * 10 FROM TransLog WHERE StatusDT LIKE '2026-12-06%'"), 35);

  EXPECT_FALSE(session.data.SetTLExtItem(kMessageId, "Route", ""));
  ASSERT_TRUE(session.data.SetTLExtItem(kMessageId, "Route", "first"));
  ASSERT_TRUE(session.data.SetTLExtItem(kMessageId, "Route", "second"));
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM TransLogExtItems WHERE ItemName = "
                          "'TransLogExt.Route' AND ItemData = 'second'"),
            1);
  const std::int64_t itemId = db_->QueryInt("SELECT ItemID FROM TransLog");
  ASSERT_TRUE(session.data.RemoveTransItem(itemId));
  EXPECT_EQ(Records(), 0);
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM TransLogExtItems"), 0);
  EXPECT_TRUE(session.log.empty());
}

TEST_F(TransLog, FailuresAreLoggedWithTheirMessageType) {
  Session session(db_->Env());
  TransLogEntry entry = Entry("s", "b");
  ASSERT_TRUE(session.data.WriteTransLog(entry));
  EXPECT_FALSE(session.data.RemoveTransItem("abc"));
  EXPECT_FALSE(session.data.SetTLItemStatus("", "O", "", kMessageId, "bob@example.org"));
  Set("EncryptTrans", "yes");
  Session unreadable(db_->Env());
  EXPECT_FALSE(unreadable.data.WriteTransLog(entry));
  EXPECT_EQ(Records(), 1);
  ASSERT_EQ(session.log.size(), 2u);
  EXPECT_EQ(session.log[0].severity, Severity::kFailure);
  EXPECT_EQ(session.log[0].source, "Data Handler");
  EXPECT_THAT(session.log[0].message,
              HasSubstr("Unable to remove TransLog item due to a database error: [SMS_Quillon: "
                        "-2147217913. Parameter 'ItemID'"));
  EXPECT_EQ(session.log[1].severity, Severity::kDetail);  // the engine refuses a NULL status
  EXPECT_THAT(session.log[1].message,
              HasSubstr("Unable to change TransLog item status due to a database error: ["));
  EXPECT_THAT(session.log[1].message, HasSubstr("NOT NULL constraint failed"));
  ASSERT_EQ(unreadable.log.size(), 1u);
  EXPECT_EQ(unreadable.log[0].severity, Severity::kFailure);
  EXPECT_EQ(unreadable.log[0].message,
            "Unable to add TransLog item due to a database error: [SMS_POP3Server: 13. Type "
            "mismatch]");
}

TEST(TransLogSchema, DatabaseOfVersionOneIsUpgradedInPlace) {
  TempDir dir;
  const Environment env{dir.Path() / "data", ""};
  std::filesystem::create_directories(env.dataDir);
  {
    sqlite::Database db(env.EmbeddedDatabasePath(), sqlite::Database::Mode::kReadWriteCreate);
    db.Exec(std::string(data::SqlCatalog::Sqlite().Migrations().at(0).sql));
    db.Exec("CREATE TABLE SchemaVersion (Version INTEGER PRIMARY KEY, Applied TEXT)");
    db.Exec("INSERT INTO SchemaVersion (Version) VALUES (1)");
    db.Exec("INSERT INTO Users (UserID, LogonName) VALUES ('U1', 'ann')");
    db.Exec("INSERT INTO GatewayItems (ToAddress, Direction, Subject) VALUES ('a@b', 'O', 'kept')");
  }
  Session session(env);
  EXPECT_EQ(session.data.GetAllUsers("").RecordCount(), 1);
  EXPECT_EQ(session.data.GetGWItems("O").Fields("Subject").ToText(), "kept");
  TransLogEntry entry;
  entry.messageId = kMessageId;
  entry.direction = "I";
  entry.subject = "after the upgrade";
  ASSERT_TRUE(session.data.WriteTransLog(entry));
  Recordset item;
  ASSERT_TRUE(session.data.GetTransItem(kMessageId, "I", item));
  EXPECT_EQ(item.Fields("Subject").ToText(), "after the upgrade");
  EXPECT_FALSE(item.Fields("TransDT").ToText().empty());  // the time of writing
  sqlite::Database db(env.EmbeddedDatabasePath(), sqlite::Database::Mode::kReadWrite);
  sqlite::Statement version(db, "SELECT max(Version) FROM SchemaVersion");
  version.Step();
  EXPECT_EQ(version.ColumnInt(0), data::SqlCatalog::Sqlite().LatestVersion());
}

}  // namespace
}  // namespace talvex::test
