// The transaction-log operations on a real database beyond what the catalogue table shows: the
// caller's entry written back, "Unicode" bodies with their length limit and the subject's cut
// under encryption, empty status values and extension items, the switch, the logged failures,
// and the upgrade of a database made before the log.
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

using ::testing::ContainsRegex;
using ::testing::HasSubstr;

const std::string kMessageId = "0123456789ABCDEF0123456789ABCDEF";

TransLogEntry Entry(std::string subject = "s", std::string body = "b", std::string content = "",
                    std::string cost = "") {
  TransLogEntry entry;
  entry.transDt = "2026-12-05 01:27:37";
  entry.messageId = kMessageId;
  entry.content = std::move(content);
  entry.fromAddress = "+4712345678";
  entry.toAddress = "bob@example.org";
  entry.subject = std::move(subject);
  entry.body = std::move(body);
  entry.direction = "O";
  entry.cost = std::move(cost);
  entry.status = "1";
  return entry;
}

// Runs once per backend.
class TransLog : public OnEachBackend {
 protected:
  void Set(const char* name, const char* value) const {
    RegLib(db_->Env())
        .WriteRegValue(RegRoot::kLocalMachine, resources::DatabaseSettingsKey(), name,
                       RegValueType::kText, Variant(value));
  }
  std::int64_t Count(const char* table) const {
    return db_->QueryInt(std::string("SELECT count(*) FROM ") + table);
  }
};

TEST_P(TransLog, UnicodeBodiesAndTheSubjectsCut) {
  const std::string longSubject(300, 's');
  const struct {
    bool encrypted;  // EncryptTrans absent, else "0"
    const char* content;
    std::string subject;
    std::string readSubject;
    std::string readBody;  // written: "Ωmega"
  } cases[] = {
      {true, "Unicode", "Ω", "?", "Ωmega"},  // only the body keeps its characters
      {true, "unicode", longSubject, longSubject.substr(0, 255), "?mega"},  // exact spelling
      {false, "Unicode", "Ω", "Ω", "Ωmega"},  // stored as given, not as hexadecimal
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    if (!c.encrypted) Set("EncryptTrans", "0");
    Session session(db_->Env());
    TransLogEntry entry = Entry(c.subject, "Ωmega", c.content);
    ASSERT_TRUE(session.data.WriteTransLog(entry));
    EXPECT_EQ(entry.subject, c.subject);  // the caller's texts stay as they were
    Recordset stored = session.data.GetTransLogs();
    stored.MoveFirst();
    const std::string body = std::string(c.content) == "Unicode" ? TextToHex("Ωmega") : "Ωmega";
    EXPECT_EQ(stored.Fields("Body").ToText(),
              c.encrypted ? EncryptText(body, kMessageId) : "Ωmega");
    EXPECT_EQ(stored.Fields("Subject").ToText().size(),  // two hexadecimal digits per byte
              (c.encrypted ? 2 : 1) * c.readSubject.size());
    Recordset item;
    ASSERT_TRUE(session.data.GetTransItem(kMessageId, "O", item));
    EXPECT_EQ(item.Fields("Subject").ToText(), c.readSubject);
    EXPECT_EQ(item.Fields("Body").ToText(), c.readBody);
  }
}

TEST_P(TransLog, StatusTimeAndCostEmptyExtensionItemsAndTheSwitch) {
  Session session(db_->Env());
  TransLogEntry entry = Entry("s", "b", "", "2");
  ASSERT_TRUE(session.data.WriteTransLog(entry));
  ASSERT_TRUE(session.data.SetTLItemStatus("", "O", "7", kMessageId, "bob@example.org"));
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM TransLog WHERE StatusDT IS NOT NULL"),
            1);  // the time now
  ASSERT_TRUE(session.data.SetTLItemStatus("2026-12-06 10:00", "O", "8", kMessageId,
                                           "bob@example.org", "3.5"));
  EXPECT_EQ(db_->QueryInt("SELECT CAST(Cost * 10 AS INTEGER) FROM TransLog WHERE Status = 8"), 35);
  EXPECT_FALSE(session.data.SetTLExtItem(kMessageId, "Route", ""));
  ASSERT_TRUE(session.data.SetTLExtItem(kMessageId, "Route", "kept"));
  EXPECT_TRUE(session.log.empty());

  // Switched off, even calls that would fail succeed and change nothing.
  Set("TLOff", "1");
  Session off(db_->Env());
  EXPECT_TRUE(off.data.SetTLItemStatus("", "O", "", kMessageId, "bob@example.org"));
  EXPECT_TRUE(off.data.SetTLExtItem(kMessageId, "Route", ""));
  Recordset unread;
  EXPECT_TRUE(off.data.GetTransItem(kMessageId, "O", unread));
  EXPECT_FALSE(unread.IsOpen());
  EXPECT_EQ(db_->QueryInt("SELECT Status FROM TransLog"), 8);
  EXPECT_EQ(Count("TransLogExtItems"), 1);
  EXPECT_TRUE(off.log.empty());
}

// The suite's writers count a "Unicode" body's characters in signed 16 bits; 32 767 of them
// (UTF-16 code units) is the first length they cannot convert, and the write fails as a whole.
TEST_P(TransLog, UnicodeBodyOf32767CharactersFailsTheWrite) {
  std::string astral;
  for (int i = 0; i < 16384; ++i) astral += "\U0001F600";  // two code units each
  const struct {
    const char* content;
    bool encrypted;
    std::string body;
    bool written;
  } cases[] = {
      {"Unicode", true, std::string(32766, 'x'), true},
      {"Unicode", true, std::string(32767, 'x'), false},
      {"Unicode", true, astral, false},
      {"", true, std::string(40000, 'x'), true},          // kept as text, not converted
      {"Unicode", false, std::string(40000, 'x'), true},  // only encryption converts it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.content) + " " + std::to_string(c.body.size()));
    Set("EncryptTrans", c.encrypted ? "1" : "0");
    Session session(db_->Env());
    const std::int64_t before = Count("TransLog");
    TransLogEntry entry = Entry("s", c.body, c.content);
    EXPECT_EQ(session.data.WriteTransLog(entry), c.written);
    EXPECT_EQ(Count("TransLog"), before + (c.written ? 1 : 0));
    if (c.written) {
      EXPECT_TRUE(session.log.empty());
      continue;
    }
    ASSERT_EQ(session.log.size(), 1u);
    EXPECT_EQ(session.log[0].message,
              "Unable to add TransLog item due to a database error: [SMS_POP3Server: 6. "
              "Overflow]");
  }
}

TEST_P(TransLog, FailuresAreLoggedWithTheirMessageType) {
  Session session(db_->Env());
  TransLogEntry entry = Entry();
  ASSERT_TRUE(session.data.WriteTransLog(entry));
  EXPECT_FALSE(session.data.SetTLItemStatus("", "O", "", kMessageId, "bob@example.org"));
  Set("EncryptTrans", "yes");
  Session unreadable(db_->Env());
  EXPECT_FALSE(unreadable.data.WriteTransLog(entry));
  EXPECT_EQ(Count("TransLog"), 1);
  ASSERT_EQ(session.log.size(), 1u);
  EXPECT_EQ(session.log[0].severity, Severity::kFailure);  // the engine refuses a NULL status
  EXPECT_EQ(session.log[0].source, "Data Handler");
  EXPECT_THAT(session.log[0].message,
              HasSubstr("Unable to change TransLog item status due to a database error: ["));
  EXPECT_THAT(session.log[0].message,
              ContainsRegex("NOT NULL constraint failed|violates not-null constraint"));
  ASSERT_EQ(unreadable.log.size(), 1u);
  EXPECT_EQ(unreadable.log[0].severity, Severity::kFailure);
  EXPECT_EQ(unreadable.log[0].message,
            "Unable to add TransLog item due to a database error: [SMS_POP3Server: 13. Type "
            "mismatch]");
}

INSTANTIATE_TEST_SUITE_P(Backends, TransLog, kEachBackend, BackendName);

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
    // Two items of one drop, its address spelt two ways, as later versions find drops.
    db.Exec("INSERT INTO GatewayItems (ToAddress, Direction, Subject) VALUES ('a@b', 'O', 'kept')");
    db.Exec("INSERT INTO GatewayItems (ToAddress, Direction, Subject) VALUES ('A@b', 'O', 'too')");
  }
  Session session(env);
  EXPECT_EQ(session.data.GetAllUsers("").RecordCount(), 1);
  Recordset items = session.data.GetGWItems("O");
  EXPECT_EQ(items.RecordCount(), 2);
  EXPECT_EQ(items.Fields("Subject").ToText(), "kept");
  TransLogEntry entry = Entry();
  entry.transDt = "";  // the time of writing
  entry.direction = "I";
  ASSERT_TRUE(session.data.WriteTransLog(entry));
  Recordset item;
  ASSERT_TRUE(session.data.GetTransItem(kMessageId, "I", item));
  EXPECT_FALSE(item.Fields("TransDT").ToText().empty());
  sqlite::Database db(env.EmbeddedDatabasePath(), sqlite::Database::Mode::kReadWrite);
  sqlite::Statement version(db, "SELECT max(Version) FROM SchemaVersion");
  version.Step();
  EXPECT_EQ(version.ColumnInt(0), data::SqlCatalog::Sqlite().LatestVersion());
}

}  // namespace
}  // namespace talvex::test
