// Gateway items, user records and groups written and read back through their procedures on a
// real database: what the writer changes in its caller's values, the per-handler settings,
// failures, the queue's delivery states beside the mail drop, the user queries and the
// memberships. Every case runs once per backend.
#include <gtest/gtest.h>

#include "catalogue_cases.hpp"
#include "data_support.hpp"
#include "platform/resources.hpp"

namespace talvex::test {
namespace {

const std::string kWindows = "text/plain; charset=\"Windows-1252\"";
const std::string kUtf8 = "text/plain; charset=\"utf-8\"";
const std::string kBase64 = "\r\nContent-Transfer-Encoding: base64";

// An item as a writer passes it; WriteGWItem changes some of these in place.
struct GWItem {
  std::string messageId = "mid";
  Variant content = "Windows-1252";
  std::string subject = "Subject";
  std::string body = "b";
  std::string direction = "O";
  std::string to = "bob@example.org";
};

class GatewayItems : public OnEachBackend {
 protected:
  void Set(const char* contentType, const char* transferEncoding) const {
    const RegLib registry(db_->Env());
    for (const auto& [name, value] : {std::pair{"ContentType", contentType},
                                      std::pair{"ContTransEncoding", transferEncoding}}) {
      registry.WriteRegValue(RegRoot::kLocalMachine, resources::GatewayServiceKey(), name,
                             RegValueType::kText, Variant(value));
    }
  }
  // The stored item's GWQID, or empty when the write returned false.
  static std::string Write(Session& session, GWItem& item) {
    std::string id;
    session.data.WriteGWItem("Mon, 1 Jan 2024 10:00:00 +0000", "test", item.messageId, item.content,
                             "ann@example.org", "Ann", item.to, item.subject, item.body,
                             item.direction, "", "", &id);
    return id;
  }
};

// The served form of each charset and encoding is proven end to end; the writer also hands the
// encoded body and content description back to its caller, and a null charset means UTF-8.
TEST_P(GatewayItems, OutboundWriterReturnsTheEncodedItemAndSizesItAfterEncoding) {
  Set("0", "2");
  Session session(db_->Env());
  GWItem item{.content = Variant::Null(), .body = "\u00E9"};
  const std::string id = Write(session, item);
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(item.content.ToText(), kUtf8 + kBase64);
  EXPECT_EQ(item.body, "w6k=");
  EXPECT_EQ(session.data.GetP3MailItem(id).Fields("Body").ToText(), "w6k=");
  EXPECT_EQ(session.data.GetP3ItemStats(id).Fields("BodyLength").ToInt64(), 4);
}

TEST_P(GatewayItems, SettingsAreReadAtEachHandlersFirstOutboundWrite) {
  Set("0", "0");
  Session early(db_->Env()), inboundOnly(db_->Env());
  GWItem first, inbound{.direction = "I"};
  ASSERT_FALSE(Write(early, first).empty() || Write(inboundOnly, inbound).empty());
  Set("2", "0");
  const auto contentOf = [](Session& session) {
    GWItem item;
    return Write(session, item).empty() ? "failed" : item.content.ToText();
  };
  EXPECT_EQ(contentOf(early), kWindows);
  EXPECT_EQ(contentOf(inboundOnly), kUtf8);
  Session fresh(db_->Env());
  EXPECT_EQ(contentOf(fresh), kUtf8);
}

TEST_P(GatewayItems, InboundItemsAreStoredAsGivenAndFailuresAreLogged) {
  Set("word", "2");  // fails outbound writes that ask for Windows-1252
  Session session(db_->Env());
  std::string longSubject;
  for (int i = 0; i < 300; ++i) longSubject += "\u00E9";
  for (const char* direction : {"I", "o"}) {
    GWItem item{.messageId = std::string(300, 'm'),
                .content = "x/y\r\nX: z",
                .subject = longSubject,
                .body = "\u00E9\u20AC",
                .direction = direction};
    const std::string id = Write(session, item);
    ASSERT_FALSE(id.empty()) << direction;
    EXPECT_EQ(item.messageId, std::string(255, 'm'));
    EXPECT_EQ(item.subject, longSubject.substr(0, 510));  // 255 two-byte characters
    Recordset stored = session.data.GetP3MailItem(id);
    EXPECT_EQ(stored.Fields("Subject").ToText(), item.subject);
    EXPECT_EQ(stored.Fields("Content").ToText(), "x/y\r\nX: z");
    EXPECT_EQ(stored.Fields("Body").ToText(), "\u00E9\u20AC");
  }
  GWItem noRecipient{.subject = longSubject, .to = ""};
  EXPECT_TRUE(Write(session, noRecipient).empty());
  EXPECT_EQ(noRecipient.subject, longSubject);  // refused before anything changes, unlogged
  EXPECT_TRUE(session.log.empty());
  GWItem outbound{.subject = longSubject};
  EXPECT_TRUE(Write(session, outbound).empty());
  EXPECT_EQ(outbound.subject.size(), 510u);  // changes made before the failure stay
  ASSERT_EQ(session.log.size(), 1u);
  EXPECT_EQ(session.log[0].message,
            "Unable to add Gateway item due to a database error: [SMS_POP3Server: 13. Type "
            "mismatch]");
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM GatewayItems"), 2);
}

using Names = std::vector<std::string>;

// The gateway's delivery states and the POP3 sessions share the Status column: what the
// gateway sent or gave up must neither be served nor come back through a session's RSET or
// release; a readdressed item leaves the old drop's session for the new drop.
class GatewayQueue : public OnEachBackend {};

TEST_P(GatewayQueue, DeliveryStatesAndTheMailDropStayApart) {
  Session pop(db_->Env()), gateway(db_->Env());
  const std::string bob = "bob@example.org";
  const Names ids = {WriteItem(pop.data, bob), WriteItem(pop.data, bob), WriteItem(pop.data, bob),
                     WriteItem(pop.data, bob)};
  ASSERT_TRUE(pop.data.LockP3MailDrop(bob, kSessionA));
  ASSERT_EQ(Ids(pop.data.GetP3MailDrop(bob, kSessionA)), ids);
  EXPECT_TRUE(gateway.data.SetGWItemStatus(ids[1], "3"));
  EXPECT_TRUE(gateway.data.SetGWItemStatus(ids[2], "2"));
  EXPECT_EQ(gateway.data.UpdateGWToAddress(ids[3], "ann@example.org"), Variant(true));
  const auto state = [&](const std::string& id) {
    const Recordset item = gateway.data.GetGWItem(id);
    return item.Fields("Status").ToText() + (item.Fields("SessionID").IsNull() ? "" : " listed");
  };
  EXPECT_EQ(state(ids[3]), "0");
  ASSERT_TRUE(pop.data.SetP3ItemsStatus(kSessionA, 4, 0));  // RSET
  EXPECT_EQ(state(ids[0]) + "," + state(ids[1]) + "," + state(ids[2]), "0,3,2");
  ASSERT_TRUE(pop.data.SetP3ItemsStatus(kSessionA, 0, -1));  // release

  ASSERT_TRUE(pop.data.LockP3MailDrop(bob, kSessionB));
  EXPECT_EQ(Ids(pop.data.GetP3MailDrop(bob, kSessionB)), (Names{ids[0]}));
  ASSERT_TRUE(pop.data.SetP3ItemsStatus(kSessionB, 0, -1));
  EXPECT_TRUE(gateway.data.ReviveGWItems("O"));
  ASSERT_TRUE(pop.data.LockP3MailDrop(bob, kSessionA));
  EXPECT_EQ(Ids(pop.data.GetP3MailDrop(bob, kSessionA)), (Names{ids[0], ids[1]}));
  EXPECT_TRUE(pop.log.empty() && gateway.log.empty());
}

TEST_P(GatewayQueue, PurgeReviveAndQueriesKeepToTheirDirection) {
  Session session(db_->Env());
  DataHandler& data = session.data;
  const Names out = {WriteItem(data, "a@x"), WriteItem(data, "a@x")};
  const Names in = {WriteItem(data, "a@x", "b", "I"), WriteItem(data, "a@x", "b", "I")};
  for (const std::string& id : {out[0], in[0], in[1]}) ASSERT_TRUE(data.SetGWItemStatus(id, "3"));
  Recordset rows;
  std::string direction = "I";
  ASSERT_TRUE(data.QueryGWQueue(rows, direction));
  EXPECT_EQ(direction, "I");
  EXPECT_TRUE(Ids(rows).empty());
  ASSERT_TRUE(data.GetDeadGWItems(rows, direction));
  EXPECT_EQ(Ids(rows), in);
  ASSERT_TRUE(data.GetDeadGWItems(rows));
  EXPECT_EQ(Ids(rows), (Names{out[0]}));

  EXPECT_TRUE(data.ReviveGWItems("I"));
  EXPECT_TRUE(data.PurgeDeadGWItems("O"));
  ASSERT_TRUE(data.QueryGWQueue(rows, direction));
  EXPECT_EQ(Ids(rows), in);
  EXPECT_EQ(Ids(data.GetGWItems("O")), (Names{out[1]}));
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM GatewayBodies"), 3);  // the purged body went too

  // A text that names no item changes nothing and is no failure.
  EXPECT_TRUE(data.SetGWItemStatus("x" + out[1], "3"));
  // A status outside the known codes would hide an item from every drop: refused.
  for (const char* status : {"9", "x", "", "1"}) EXPECT_FALSE(data.SetGWItemStatus(out[1], status));
  EXPECT_EQ(data.GetGWItem(out[1]).Fields("Status").ToInt32(), 0);
  ASSERT_EQ(session.log.size(), 4u);
  EXPECT_EQ(session.log[0].message,
            "Unable to change GW item status due to a database error: [SMS_Quillon: "
            "-2147217900. SMS_SetGWItemStatus: Unknown gateway item status 9]");
}

std::string Logons(Recordset rows) {
  return Column(std::move(rows), "LogonName");
}

UserRecord User(char id, const char* logon) {
  UserRecord user;
  user.userId = std::string(32, id);
  user.logonName = logon;
  return user;
}

class Users : public OnEachBackend {};

TEST_P(Users, WriteCheckListAndDelete) {
  Session session(db_->Env());
  UserRecord alice = User('A', "alice");
  alice.userName = "Alice Ames";
  alice.email = "Alice@Example.org";
  alice.pop3User = "1";
  ASSERT_TRUE(session.data.WriteUser(alice));
  const auto dups = [&](const char* userName, const char* email, const char* logon,
                        const char* type = "0") {
    return session.data.CheckDupUsers(userName, "", email, "", logon, type).RecordCount();
  };
  EXPECT_EQ(dups("", "", "ALICE") + dups("", "alice@example.ORG", "") + dups("alice ames", "", ""),
            3);
  EXPECT_EQ(dups("", "", "") + dups("", "", "alic") + dups("", "", "alice", "1"), 0);

  alice.recId = session.data.GetAllUsers("0").Fields("RecID").ToText();
  alice.logonName = "zed";
  alice.email = "zed@example.org";
  ASSERT_TRUE(session.data.WriteUser(alice));  // same RecID: replaces the record
  Recordset zed = session.data.GetUser(alice.recId);
  ASSERT_EQ(zed.RecordCount(), 1);
  EXPECT_EQ(zed.Fields("Email").ToText(), "zed@example.org");
  EXPECT_EQ(zed.Fields("POP3User").ToInt32(), 1);

  UserRecord bob = User('B', "Bob");
  bob.acctDisabled = "1";
  UserRecord carol = User('C', "carol");
  carol.userType = "1";
  ASSERT_TRUE(session.data.WriteUser(bob) && session.data.WriteUser(carol));
  EXPECT_EQ(Logons(session.data.GetAllUsers("0")), "Bob,zed");
  EXPECT_EQ(Logons(session.data.GetUsers("0")), "zed");
  EXPECT_EQ(Logons(session.data.GetAllUsers("")), "Bob,carol,zed");
  EXPECT_EQ(Logons(session.data.GetUsers("1")), "carol");

  EXPECT_FALSE(session.data.WriteUser(User('C', "again")));  // UserID taken
  ASSERT_TRUE(session.data.DeleteUser(alice.recId));
  EXPECT_FALSE(session.data.DeleteUser("x"));
  EXPECT_THROW(session.data.GetUser("x"), Failure);
  EXPECT_EQ(session.log.size(), 2u);
  EXPECT_EQ(Logons(session.data.GetAllUsers("")), "Bob,carol");
}

GroupRecord Group(char id, const char* name) {
  GroupRecord group;
  group.groupId = std::string(32, id);
  group.groupName = name;
  return group;
}

std::string GroupNames(Recordset rows) {
  return Column(std::move(rows), "GroupName");
}

class Groups : public OnEachBackend {};

// Users and groups are numbered apart, so user 1 and group 1 both exist: each DeleteAll must
// find the id of its own kind of record. Memberships follow a user rewritten with a new id.
TEST_P(Groups, MembershipsFollowTheirRecords) {
  Session session(db_->Env());
  DataHandler& data = session.data;
  UserRecord ann = User('A', "ann");
  ASSERT_TRUE(data.WriteUser(ann) && data.WriteUser(User('B', "bob")));
  ASSERT_TRUE(data.WriteGroup(Group('G', "gee")) && data.WriteGroup(Group('H', "aitch")));
  const std::string a(32, 'A'), b(32, 'B'), g(32, 'G'), h(32, 'H');
  for (const auto& [user, group] : {std::pair{a, h}, std::pair{b, g}, std::pair{b, h}}) {
    ASSERT_TRUE(data.WriteUsersGroups(user, group));
  }
  EXPECT_TRUE(data.WriteUsersGroups(b, h));  // already a member: nothing changes
  EXPECT_EQ(GroupNames(data.GetUserGroups(b)), "aitch,gee");

  ann.recId = "1";
  ann.userId = std::string(32, 'N');
  ASSERT_TRUE(data.WriteUser(ann));
  EXPECT_EQ(GroupNames(data.GetUserGroups(ann.userId)), "aitch");
  EXPECT_EQ(Logons(data.GetGroupUsers(h)), "ann,bob");

  ASSERT_TRUE(data.DeleteAllUserGroups("1"));  // ann
  ASSERT_TRUE(data.DeleteAllGroupUsers("1"));  // gee
  EXPECT_EQ(GroupNames(data.GetUserGroups(b)), "aitch");
  EXPECT_EQ(Logons(data.GetGroupUsers(h)), "bob");

  GroupRecord renamed = Group('G', "gamma");
  renamed.recId = "1";
  ASSERT_TRUE(data.WriteGroup(renamed));  // same RecID: replaces the record
  EXPECT_EQ(GroupNames(data.GetAllGroups()), "aitch,gamma");
  EXPECT_TRUE(session.log.empty());
  // Neither a membership of an unknown user nor a second group with a taken id is stored.
  EXPECT_FALSE(data.WriteUsersGroups(std::string(32, 'Z'), h));
  EXPECT_FALSE(data.WriteGroup(Group('H', "again")));
  EXPECT_EQ(db_->QueryInt("SELECT count(*) FROM UsersGroups") * 10 +
                db_->QueryInt("SELECT count(*) FROM Groups"),
            12);
  EXPECT_EQ(session.log.size(), 2u);
}

// A group written under a record number that is not there yet is added under it, and groups
// added later without one are numbered past it rather than colliding with it.
TEST_P(Groups, AGivenRecordNumberIsTakenAndLaterOnesFollowIt) {
  Session session(db_->Env());
  GroupRecord given = Group('G', "given");
  given.recId = "10";
  ASSERT_TRUE(session.data.WriteGroup(given));
  ASSERT_TRUE(session.data.WriteGroup(Group('H', "next")));
  EXPECT_EQ(session.data.GetGroup("10").Fields("GroupName").ToText(), "given");
  EXPECT_EQ(session.data.GetGroup("11").Fields("GroupName").ToText(), "next");
  EXPECT_TRUE(session.log.empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, GatewayItems, kEachBackend, BackendName);
INSTANTIATE_TEST_SUITE_P(Backends, GatewayQueue, kEachBackend, BackendName);
INSTANTIATE_TEST_SUITE_P(Backends, Users, kEachBackend, BackendName);
INSTANTIATE_TEST_SUITE_P(Backends, Groups, kEachBackend, BackendName);

}  // namespace
}  // namespace talvex::test
