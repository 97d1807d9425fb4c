// What every backend's mail-drop procedures must do, on a real database: the lock, the listing,
// marks, RSET, removal and release, as sessions of the POP3 server use them. Each case runs
// once per backend factory.
#include <gtest/gtest.h>

#include "data/data_errors.hpp"
#include "data_support.hpp"

namespace talvex::test {
namespace {

class MailDropConformance : public ::testing::TestWithParam<TestBackend> {
 protected:
  void SetUp() override {
    db_ = GetParam().make();
    access_ = std::make_unique<DataAccess>(db_->Env());
  }

  std::unique_ptr<Session> NewSession() { return std::make_unique<Session>(db_->Env()); }
  std::string Item(const std::string& to, const std::string& body = "b",
                   const std::string& direction = "O") {
    return std::to_string(WriteItem(*access_, to, body, direction));
  }
  std::int64_t Status(const std::string& id) {
    return db_->QueryInt("SELECT Status FROM GatewayItems WHERE GWQID = " + id);
  }
  std::int64_t Count(const std::string& where) {
    return db_->QueryInt("SELECT count(*) FROM GatewayItems WHERE " + where);
  }

  std::unique_ptr<TestDatabase> db_;
  std::unique_ptr<DataAccess> access_;
};

TEST_P(MailDropConformance, UserRecordByLogonName) {
  db_->Exec(
      "INSERT INTO Users (UserID, LogonName, UserPassword, Email, POP3User, AcctDisabled) VALUES "
      "('0123456789ABCDEF0123456789ABCDEF', 'Alice', 'DIGEST', 'Alice@Example.com', 1, 1), "
      "('FEDCBA9876543210FEDCBA9876543210', 'web', 'X', 'web@example.com', 0, 0)");
  auto session = NewSession();
  const Recordset alice = session->data.GetP3UserDetails("alice");
  ASSERT_EQ(alice.RecordCount(), 1);
  EXPECT_EQ(alice.Fields("UserID"), Variant("0123456789ABCDEF0123456789ABCDEF"));
  EXPECT_EQ(alice.Fields("UserPassword"), Variant("DIGEST"));
  EXPECT_EQ(alice.Fields("Email"), Variant("Alice@Example.com"));
  EXPECT_TRUE(alice.Fields("AcctDisabled").EqualsNumber(1));
  // No row for an unknown name, nor for a user who is not a POP3 user.
  EXPECT_EQ(session->data.GetP3UserDetails("nobody").RecordCount(), 0);
  EXPECT_EQ(session->data.GetP3UserDetails("web").RecordCount(), 0);
}

TEST_P(MailDropConformance, OneSessionHoldsADropUntilItReleasesIt) {
  Item("alice@example.com");
  auto a = NewSession();
  auto b = NewSession();
  ASSERT_TRUE(a->data.LockP3MailDrop("alice@example.com", kSessionA));
  EXPECT_FALSE(b->data.LockP3MailDrop("ALICE@example.com", kSessionB));
  ASSERT_EQ(b->log.size(), 1u);
  EXPECT_EQ(b->log[0].messageType, 4);
  EXPECT_EQ(b->log[0].source, "Data Handler");
  EXPECT_EQ(b->log[0].message.rfind(
                "Unable to lock POP3 mail drop to a database connectivity error: [SMS_Quillon: "
                "-2147217900. SMS_LockP3MailDrop: Mail drop ALICE@example.com is locked",
                0),
            0u)
      << b->log[0].message;
  EXPECT_TRUE(b->data.LockP3MailDrop("bob@example.com", kSessionB));    // other drops stay free
  EXPECT_TRUE(a->data.LockP3MailDrop("alice@example.com", kSessionA));  // the holder renews
  // Only the holder may list the drop.
  try {
    b->data.GetP3MailDrop("alice@example.com", kSessionB);
    ADD_FAILURE() << "a session without the lock listed the drop";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.Number(), data::dberr::kCommand);
  }
  // Release (the end of a session) lets the next session lock.
  EXPECT_TRUE(a->data.SetP3ItemsStatus(kSessionA, "0", "-1"));
  EXPECT_TRUE(b->data.LockP3MailDrop("alice@example.com", kSessionB));
  EXPECT_FALSE(a->data.LockP3MailDrop("alice@example.com", kSessionA));
}

// A QUIT on an empty drop sends no release; such a lock must not keep the drop from the
// user's next session, nor from mail that arrives meanwhile.
TEST_P(MailDropConformance, LockOfAnEmptyDropDoesNotBlockTheNextSession) {
  auto a = NewSession();
  auto b = NewSession();
  ASSERT_TRUE(a->data.LockP3MailDrop("alice@example.com", kSessionA));
  EXPECT_TRUE(Ids(a->data.GetP3MailDrop("alice@example.com", kSessionA)).empty());
  const std::string arrived = Item("alice@example.com");
  ASSERT_TRUE(b->data.LockP3MailDrop("alice@example.com", kSessionB));
  EXPECT_EQ(Ids(b->data.GetP3MailDrop("alice@example.com", kSessionB)),
            std::vector<std::string>{arrived});
  // Now B serves an item: A is refused until B releases.
  EXPECT_FALSE(a->data.LockP3MailDrop("alice@example.com", kSessionA));
}

TEST_P(MailDropConformance, StaleLockIsTakenOverWithEverythingItHeld) {
  const std::string i1 = Item("alice@example.com"), i2 = Item("alice@example.com");
  auto a = NewSession();
  auto b = NewSession();
  ASSERT_TRUE(a->data.LockP3MailDrop("alice@example.com", kSessionA));
  ASSERT_EQ(Ids(a->data.GetP3MailDrop("alice@example.com", kSessionA)),
            (std::vector<std::string>{i1, i2}));
  ASSERT_TRUE(a->data.UpdateP3ItemStatus(i1, "5"));
  // Session A dies here. Its lock holds for 15 minutes...
  db_->Exec("UPDATE MailDropLocks SET LockTime = LockTime - 14 * 60");
  EXPECT_FALSE(b->data.LockP3MailDrop("alice@example.com", kSessionB));
  // ...and is taken over after that, with the items A listed and marked.
  db_->Exec("UPDATE MailDropLocks SET LockTime = LockTime - 2 * 60");
  ASSERT_TRUE(b->data.LockP3MailDrop("alice@example.com", kSessionB));
  EXPECT_EQ(Ids(b->data.GetP3MailDrop("alice@example.com", kSessionB)),
            (std::vector<std::string>{i1, i2}));
  EXPECT_EQ(b->data.GetP3ItemStats(i1).RecordCount(), 1);
  // A late release of the dead session touches nothing of B's.
  EXPECT_TRUE(a->data.SetP3ItemsStatus(kSessionA, "0", "-1"));
  EXPECT_EQ(Count("SessionID = '" + kSessionB + "' AND Status = 4"), 2);
  EXPECT_FALSE(a->data.LockP3MailDrop("alice@example.com", kSessionA));
}

TEST_P(MailDropConformance, ListingIsTheDropInStorageOrder) {
  const std::string i1 = Item("alice@example.com");
  Item("bob@example.com");
  const std::string i3 = Item("ALICE@EXAMPLE.COM");
  Item("alice@example.com", "inbound", "I");
  const std::string i5 = Item("Alice@Example.com");
  auto a = NewSession();
  ASSERT_TRUE(a->data.LockP3MailDrop("alice@example.com", kSessionA));
  const std::vector<std::string> expected = {i1, i3, i5};
  EXPECT_EQ(Ids(a->data.GetP3MailDrop("alice@example.com", kSessionA)), expected);
  EXPECT_EQ(Ids(a->data.GetP3MailDrop("alice@example.com", kSessionA)), expected);
  EXPECT_EQ(Count("SessionID = '" + kSessionA + "' AND Status = 4"), 3);
  EXPECT_EQ(Count("SessionID IS NULL AND Status = 0"), 2);

  ASSERT_TRUE(a->data.LockP3MailDrop("empty@example.com", kSessionA));
  const Recordset none = a->data.GetP3MailDrop("empty@example.com", kSessionA);
  EXPECT_EQ(none.RecordCount(), 0);
  EXPECT_TRUE(none.Eof());
}

TEST_P(MailDropConformance, MarkedItemsVanishUntilRset) {
  const std::string i1 = Item("alice@example.com"), i2 = Item("alice@example.com"),
                    i3 = Item("alice@example.com");
  auto a = NewSession();
  ASSERT_TRUE(a->data.LockP3MailDrop("alice@example.com", kSessionA));
  ASSERT_EQ(Ids(a->data.GetP3MailDrop("alice@example.com", kSessionA)).size(), 3u);
  ASSERT_TRUE(a->data.UpdateP3ItemStatus(i1, "5"));  // DELE
  ASSERT_TRUE(a->data.UpdateP3ItemStatus(i2, "6"));  // RETR with forced deletion
  for (const auto& gone : {i1, i2}) {
    EXPECT_EQ(a->data.GetP3ItemStats(gone).RecordCount(), 0) << gone;
    EXPECT_EQ(a->data.GetP3MailItem(gone).RecordCount(), 0) << gone;
  }
  EXPECT_EQ(a->data.GetP3ItemStats(i3).RecordCount(), 1);
  EXPECT_EQ(a->data.GetP3MailItem(i3).RecordCount(), 1);

  ASSERT_TRUE(a->data.SetP3ItemsStatus(kSessionA, "4", "0"));  // RSET
  for (const auto& back : {i1, i2, i3}) {
    EXPECT_EQ(a->data.GetP3ItemStats(back).RecordCount(), 1) << back;
    EXPECT_EQ(a->data.GetP3MailItem(back).RecordCount(), 1) << back;
  }
  EXPECT_EQ(Count("SessionID = '" + kSessionA + "' AND Status = 4"), 3);
  EXPECT_TRUE(a->log.empty());
}

TEST_P(MailDropConformance, QuitRemovesOnlyTheSessionsMarkedItems) {
  const std::string a1 = Item("alice@example.com"), a2 = Item("alice@example.com"),
                    a3 = Item("alice@example.com"), b1 = Item("bob@example.com"),
                    b2 = Item("bob@example.com");
  auto a = NewSession();
  auto b = NewSession();
  ASSERT_TRUE(a->data.LockP3MailDrop("alice@example.com", kSessionA));
  ASSERT_EQ(Ids(a->data.GetP3MailDrop("alice@example.com", kSessionA)).size(), 3u);
  ASSERT_TRUE(b->data.LockP3MailDrop("bob@example.com", kSessionB));
  ASSERT_EQ(Ids(b->data.GetP3MailDrop("bob@example.com", kSessionB)).size(), 2u);
  ASSERT_TRUE(a->data.UpdateP3ItemStatus(a1, "5"));
  ASSERT_TRUE(a->data.UpdateP3ItemStatus(a2, "6"));
  ASSERT_TRUE(b->data.UpdateP3ItemStatus(b1, "5"));

  ASSERT_TRUE(a->data.RemoveP3Items(kSessionA));
  ASSERT_TRUE(a->data.SetP3ItemsStatus(kSessionA, "0", "-1"));
  EXPECT_EQ(Count("GWQID IN (" + a1 + ", " + a2 + ")"), 0);
  EXPECT_EQ(Count("GWQID IN (" + a3 + ", " + b1 + ", " + b2 + ")"), 3);
  EXPECT_EQ(Status(a3), 0);
  EXPECT_EQ(Status(b1), 5);

  auto c = NewSession();
  ASSERT_TRUE(c->data.LockP3MailDrop("alice@example.com", kSessionC));
  EXPECT_EQ(Ids(c->data.GetP3MailDrop("alice@example.com", kSessionC)),
            (std::vector<std::string>{a3}));
}

TEST_P(MailDropConformance, SessionThatNeverQuitsLosesNothing) {
  const std::vector<std::string> items = {Item("alice@example.com"), Item("alice@example.com"),
                                          Item("alice@example.com")};
  auto a = NewSession();
  ASSERT_TRUE(a->data.LockP3MailDrop("alice@example.com", kSessionA));
  ASSERT_EQ(Ids(a->data.GetP3MailDrop("alice@example.com", kSessionA)), items);
  ASSERT_TRUE(a->data.UpdateP3ItemStatus(items[0], "5"));
  ASSERT_TRUE(a->data.UpdateP3ItemStatus(items[1], "6"));
  ASSERT_TRUE(a->data.SetP3ItemsStatus(kSessionA, "0", "-1"));  // the end without QUIT
  EXPECT_EQ(Count("SessionID IS NULL AND Status = 0"), 3);

  auto b = NewSession();
  ASSERT_TRUE(b->data.LockP3MailDrop("alice@example.com", kSessionB));
  EXPECT_EQ(Ids(b->data.GetP3MailDrop("alice@example.com", kSessionB)), items);
}

TEST_P(MailDropConformance, ItemRowsCarryTheStoredFieldsAndWireSize) {
  // On the wire: "€" and "é" are one octet each in Windows-1252; "日", "本" and the emoji
  // are one "?" each.
  const std::string body = "Price 5\u20AC, caf\u00E9, \u65E5\u672C \U0001F600\r\n";
  const std::string id = Item("alice@example.com", body);
  auto a = NewSession();
  Recordset item = a->data.GetP3MailItem(id);
  const Recordset stats = a->data.GetP3ItemStats(id);
  ASSERT_EQ(item.RecordCount(), 1);
  ASSERT_EQ(stats.RecordCount(), 1);
  EXPECT_TRUE(item.Fields("GWQID").EqualsNumber(std::stod(id)));
  EXPECT_EQ(item.Fields("Body"), Variant(body));
  EXPECT_TRUE(stats.Fields("BodyLength").EqualsNumber(22));
  for (const char* field :
       {"MessageID", "DTReceived", "Subject", "Content", "FromName", "FromAddress", "ToAddress"}) {
    EXPECT_EQ(stats.Fields(field), item.Fields(field)) << field;
  }
  EXPECT_EQ(item.Fields("FromName"), Variant("Sender"));
  // The composer writes its own identifier into the row; the database keeps the stored one.
  item.Fields("MessageID") = Variant("composed");
  EXPECT_EQ(item.Fields("MessageID"), Variant("composed"));
  EXPECT_EQ(a->data.GetP3MailItem(id).Fields("MessageID"), Variant("stored-id"));
}

INSTANTIATE_TEST_SUITE_P(Backends, MailDropConformance,
                         ::testing::Values(TestBackend{"Sqlite", &MakeSqliteTestDatabase}),
                         [](const auto& backend) { return std::string(backend.param.name); });

}  // namespace
}  // namespace talvex::test
