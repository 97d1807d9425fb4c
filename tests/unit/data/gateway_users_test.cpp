// Gateway items and user records written and read back through their procedures on a real
// database: the content settings of outbound items, cuts, failures, and the user queries.
#include <gtest/gtest.h>

#include <optional>

#include "data_support.hpp"
#include "host/resources.hpp"
#include "platform/ansi.hpp"

namespace talvex::test {
namespace {

// An item as a writer passes it; WriteGWItem changes some of these in place.
struct GWItem {
  std::string messageId = "mid";
  Variant content = "Windows-1252";
  std::string subject = "Subject";
  std::string body = "b";
  std::string direction = "O";
  std::string to = "bob@example.org";
};

class GatewayItems : public ::testing::Test {
 protected:
  void Set(const char* name, const char* value) const {
    RegLib(db_->Env())
        .WriteRegValue(regroot::kLocalMachine, resources::GatewayServiceKey(), name,
                       regvalue::kText, Variant(value));
  }
  // The stored item's GWQID, or nothing when the write returned false.
  static std::optional<std::string> Write(Session& session, GWItem& item) {
    if (!session.data.WriteGWItem("Mon, 1 Jan 2024 10:00:00 +0000", "test", item.messageId,
                                  item.content, "ann@example.org", "Ann", item.to, item.subject,
                                  item.body, item.direction)) {
      return std::nullopt;
    }
    return Ids(session.data.GetGWItems(item.direction)).back();
  }
  // The stored Content and Body are what the caller's variables hold after the call.
  static void ExpectStored(Session& session, GWItem item, const std::string& content,
                           const std::string& wire, std::int64_t octets) {
    const auto id = Write(session, item);
    ASSERT_TRUE(id);
    Recordset stored = session.data.GetP3MailItem(*id);
    EXPECT_EQ(stored.Fields("Content").ToText(), content);
    EXPECT_EQ(item.content.ToText(), content);
    EXPECT_EQ(stored.Fields("Body").ToText(), item.body);
    EXPECT_EQ(ansi::encode(item.body), wire);
    EXPECT_EQ(session.data.GetP3ItemStats(*id).Fields("BodyLength").ToInt64(), octets);
  }
  std::unique_ptr<TestDatabase> db_ = MakeSqliteTestDatabase();
};

const std::string kWindows = "text/plain; charset=\"Windows-1252\"";
const std::string kUtf8 = "text/plain; charset=\"utf-8\"";

TEST_F(GatewayItems, OutboundItemsAreStoredAsTheSettingsSay) {
  Session absent(db_->Env());  // no registry values: ContentType 0, no transfer encoding
  ExpectStored(absent, {.body = "5€ é Ā"}, kWindows, "5\x80 \xE9 ?", 6);
  Set("ContentType", "01");
  Set("ContTransEncoding", "01");
  Session latin(db_->Env());
  ExpectStored(latin, {.body = "5€ é"}, "text/plain; charset=\"iso-8859-1\"", "5EUR \xE9", 6);
  ExpectStored(latin, {.content = Variant::Null(), .body = "é"}, kUtf8, "\xC3\xA9", 2);
  Set("ContentType", "2");
  Set("ContTransEncoding", "1");
  Session qp(db_->Env());
  ExpectStored(qp, {.body = "é="}, kUtf8 + "\r\nContent-Transfer-Encoding: quoted-printable",
               "=C3=A9=3D", 9);
  // 60 octets become two base64 lines of 82 characters in all: the body parameter is sized
  // after encoding.
  Set("ContentType", "0");
  Set("ContTransEncoding", "2");
  Session base64(db_->Env());
  const std::string header = kWindows + "\r\nContent-Transfer-Encoding: base64";
  ExpectStored(base64, {.body = ""}, header, "", 0);
  std::string wire;
  for (int i = 0; i < 19; ++i) wire += "YWFh";
  ExpectStored(base64, {.body = std::string(60, 'a')}, header, wire + "\r\nYWFh", 82);
}

TEST_F(GatewayItems, SettingsAreReadAtEachHandlersFirstOutboundWrite) {
  Set("ContentType", "0");
  Session early(db_->Env());
  Session inboundOnly(db_->Env());
  GWItem first;
  GWItem inbound{.direction = "I"};
  ASSERT_TRUE(Write(early, first) && Write(inboundOnly, inbound));
  Set("ContentType", "2");
  const auto contentOf = [](Session& session) {
    GWItem item;
    return Write(session, item) ? item.content.ToText() : "failed";
  };
  EXPECT_EQ(contentOf(early), kWindows);
  EXPECT_EQ(contentOf(inboundOnly), kUtf8);
  Session fresh(db_->Env());
  EXPECT_EQ(contentOf(fresh), kUtf8);
}

TEST_F(GatewayItems, InboundItemsAreStoredAsGivenAndLongTextsAreCut) {
  Set("ContentType", "word");  // would fail an outbound write
  Session session(db_->Env());
  std::string longSubject;
  for (int i = 0; i < 300; ++i) longSubject += "é";
  for (const char* direction : {"I", "o"}) {
    GWItem item{.messageId = std::string(300, 'm'),
                .content = "x/y\r\nX: z",
                .subject = longSubject,
                .body = "é€",
                .direction = direction};
    const auto id = Write(session, item);
    ASSERT_TRUE(id) << direction;
    EXPECT_EQ(item.messageId, std::string(255, 'm'));
    EXPECT_EQ(item.subject, longSubject.substr(0, 510));  // 255 two-byte characters
    Recordset stored = session.data.GetP3MailItem(*id);
    EXPECT_EQ(stored.Fields("MessageID").ToText(), item.messageId);
    EXPECT_EQ(stored.Fields("Subject").ToText(), item.subject);
    EXPECT_EQ(stored.Fields("Content").ToText(), "x/y\r\nX: z");
    EXPECT_EQ(stored.Fields("Body").ToText(), "é€");
  }
  EXPECT_TRUE(session.log.empty());
}

TEST_F(GatewayItems, FailuresAreLoggedButAnEmptyRecipientIsNot) {
  Session session(db_->Env());
  GWItem noRecipient{.subject = std::string(300, 's'), .to = ""};
  EXPECT_FALSE(Write(session, noRecipient));
  EXPECT_EQ(noRecipient.subject.size(), 300u);
  EXPECT_TRUE(session.log.empty());

  Set("ContentType", "word");
  Session failing(db_->Env());
  GWItem wordType{.subject = std::string(300, 's')};
  EXPECT_FALSE(Write(failing, wordType));
  EXPECT_EQ(wordType.subject.size(), 255u);  // changes made before the failure stay
  GWItem utf8{.content = "utf-8"};
  EXPECT_TRUE(Write(failing, utf8));  // the setting is read as a number only for Windows-1252
  GWItem tooLong{.content = std::string(256, 'c'), .direction = "I"};
  EXPECT_FALSE(Write(failing, tooLong));
  const std::string message = "Unable to add Gateway item due to a database error: [";
  ASSERT_EQ(failing.log.size(), 2u);
  EXPECT_EQ(failing.log[0].message, message + "SMS_POP3Server: 13. Type mismatch]");
  EXPECT_TRUE(failing.log[1].message.starts_with(message)) << failing.log[1].message;
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM GatewayItems"), 1);
}

// The LogonName of every row.
std::vector<std::string> Logons(Recordset rows) {
  std::vector<std::string> names;
  for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) {
    names.push_back(rows.Fields("LogonName").ToText());
  }
  return names;
}

using Names = std::vector<std::string>;

// A user with the given identifier digit and logon name; the other fields are set by the test.
UserRecord User(char id, const char* logon) {
  UserRecord user;
  user.UserID = std::string(32, id);
  user.LogonName = logon;
  return user;
}

TEST(Users, WriteCheckListAndDelete) {
  const auto db = MakeSqliteTestDatabase();
  Session session(db->Env());
  UserRecord alice = User('A', "alice");  // empty alias and mobile
  alice.UserName = "Alice Ames";
  alice.Email = "Alice@Example.org";
  alice.POP3User = "1";
  ASSERT_TRUE(session.data.WriteUser(alice));
  const auto duplicates = [&](const char* userName, const char* email, const char* logon,
                              const char* type = "0") {
    return session.data.CheckDupUsers(userName, "", email, "", logon, type).RecordCount();
  };
  EXPECT_EQ(duplicates("", "", "ALICE"), 1);
  EXPECT_EQ(duplicates("", "alice@example.ORG", ""), 1);
  EXPECT_EQ(duplicates("alice ames", "", ""), 1);
  EXPECT_EQ(duplicates("", "", ""), 0);
  EXPECT_EQ(duplicates("", "", "alic"), 0);
  EXPECT_EQ(duplicates("", "", "alice", "1"), 0);

  alice.RecID = session.data.GetAllUsers("0").Fields("RecID").ToText();
  alice.LogonName = "zed";
  alice.Email = "zed@example.org";
  ASSERT_TRUE(session.data.WriteUser(alice));  // same RecID: replaces the record
  Recordset zed = session.data.GetUser(alice.RecID);
  ASSERT_EQ(zed.RecordCount(), 1);
  EXPECT_EQ(zed.Fields("Email").ToText(), "zed@example.org");
  EXPECT_EQ(zed.Fields("POP3User").ToInt32(), 1);

  UserRecord bob = User('B', "Bob");
  bob.AcctDisabled = "1";
  UserRecord carol = User('C', "carol");
  carol.UserType = "1";
  ASSERT_TRUE(session.data.WriteUser(bob) && session.data.WriteUser(carol));
  EXPECT_EQ(Logons(session.data.GetAllUsers("0")), (Names{"Bob", "zed"}));
  EXPECT_EQ(Logons(session.data.GetUsers("0")), (Names{"zed"}));
  EXPECT_EQ(Logons(session.data.GetAllUsers("")), (Names{"Bob", "carol", "zed"}));
  EXPECT_EQ(Logons(session.data.GetUsers("1")), (Names{"carol"}));

  EXPECT_FALSE(session.data.WriteUser(User('C', "again")));  // UserID taken
  ASSERT_TRUE(session.data.DeleteUser(alice.RecID));
  EXPECT_EQ(session.data.GetUser(alice.RecID).RecordCount(), 0);
  EXPECT_FALSE(session.data.DeleteUser("x"));
  EXPECT_THROW(session.data.GetUser("x"), Failure);
  ASSERT_EQ(session.log.size(), 2u);
  EXPECT_TRUE(session.log[0].message.starts_with("Unable to add User due to a database error: ["));
  EXPECT_TRUE(
      session.log[1].message.starts_with("Unable to delete User due to a database error: ["));
  EXPECT_EQ(Logons(session.data.GetAllUsers("")), (Names{"Bob", "carol"}));
}

}  // namespace
}  // namespace talvex::test
