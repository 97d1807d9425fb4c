// The session's typed reads of the mail drop on a real database of each engine: the fields land
// in the right members whichever query ran before, nulls stay nulls, and every read sees the
// writes made before it, also those of another connection; and the results of one procedure
// share their field list, on which the positions of those reads rest.
#include <gtest/gtest.h>

#include "await.hpp"
#include "data/data_errors.hpp"
#include "data/maildrop_store.hpp"
#include "data_support.hpp"

namespace talvex::test {
namespace {

using data::ItemStatus;
using data::MailDropStore;

const std::string kDrop = "carol@example.com";
constexpr std::int64_t kWhole = 1 << 20;

class MailDropStoreReads : public OnEachBackend {
 protected:
  // An item whose header fields all differ, so that a field read from the wrong column shows.
  std::int64_t Item(const std::string& tag) {
    const std::string id = WriteItem(writer_, kDrop, "body " + tag + "\r\n");
    db_->Exec("UPDATE GatewayItems SET Subject = 'subject " + tag + "', MessageID = 'id " + tag +
              "', FromName = 'name " + tag + "', FromAddress = 'from-" + tag +
              "@example.org', DTReceived = 'date " + tag + "', Content = 'type " + tag +
              "' WHERE GWQID = " + id);
    return std::stoll(id);
  }

  static void ExpectHeader(const data::ItemHeader& header, const std::string& tag) {
    EXPECT_EQ(header.dtReceived, "date " + tag);
    EXPECT_EQ(header.subject, "subject " + tag);
    EXPECT_EQ(header.content, "type " + tag);
    EXPECT_EQ(header.messageId, "id " + tag);
    EXPECT_EQ(header.fromName, "name " + tag);
    EXPECT_EQ(header.fromAddress, "from-" + tag + "@example.org");
    EXPECT_EQ(header.toAddress, kDrop);
  }

  DataHandler writer_{db_->Env()};
  std::vector<std::string> log_;
  MailDropStore store_{
      db_->Env(), nullptr,
      [this](Severity, std::string_view, std::string_view message) { log_.emplace_back(message); }};
};

TEST_P(MailDropStoreReads, ItemFieldsLandInTheirMembersWhicheverQueryRanBefore) {
  const std::int64_t first = Item("one"), second = Item("two");
  ASSERT_TRUE(Await(store_.Lock(kDrop, kSessionA)));
  EXPECT_EQ(Await(store_.ListItems(kDrop, kSessionA)).ids, (std::vector{first, second}));
  ASSERT_TRUE(Await(store_.Lock("empty@example.com", kSessionB)));
  EXPECT_TRUE(Await(store_.ListItems("empty@example.com", kSessionB)).ids.empty());
  // The two queries alternate, so each finds its positions while the other's are at hand.
  for (int round = 0; round < 2; ++round) {
    for (const auto& [id, tag] : {std::pair{first, "one"}, std::pair{second, "two"}}) {
      const auto stats = Await(store_.Stats(id));
      ASSERT_TRUE(stats.has_value());
      ExpectHeader(stats->header, tag);
      EXPECT_EQ(stats->bodyLength, 10);
      const auto item = Await(store_.Load(id, kWhole));
      ASSERT_TRUE(item.has_value());
      ExpectHeader(item->header, tag);
      EXPECT_EQ(item->body, "body " + std::string(tag) + "\r\n");
    }
  }
  EXPECT_TRUE(log_.empty());
}

TEST_P(MailDropStoreReads, EveryReadSeesTheWritesBeforeIt) {
  const std::int64_t id = Item("one");
  ASSERT_TRUE(Await(store_.Lock(kDrop, kSessionA)));
  ASSERT_EQ(Await(store_.Stats(id))->header.subject, "subject one");
  ASSERT_EQ(Await(store_.Load(id, kWhole))->body, "body one\r\n");

  // Another connection changes the item; the store's kept statements must read anew.
  db_->Exec("UPDATE GatewayItems SET Subject = 'changed', FromName = NULL WHERE GWQID = " +
            std::to_string(id));
  db_->Exec("UPDATE GatewayBodies SET Body = NULL WHERE GWQID = " + std::to_string(id));
  const auto stats = Await(store_.Stats(id));
  ASSERT_TRUE(stats.has_value());
  EXPECT_EQ(stats->header.subject, "changed");
  EXPECT_EQ(stats->header.fromName, std::nullopt);
  const auto item = Await(store_.Load(id, kWhole));
  ASSERT_TRUE(item.has_value());
  EXPECT_EQ(item->header.subject, "changed");
  EXPECT_EQ(item->body, std::nullopt);

  // The store's own write, then the same reads.
  ASSERT_TRUE(Await(store_.SetStatus(id, ItemStatus::kDeleted)));
  EXPECT_EQ(Await(store_.Stats(id)), std::nullopt);
  EXPECT_EQ(Await(store_.Load(id, kWhole)), std::nullopt);
  ASSERT_TRUE(Await(store_.SetSessionStatus(kSessionA, ItemStatus::kListed, false)));
  EXPECT_EQ(Await(store_.Load(id, kWhole))->header.subject, "changed");
}

// The drop's version vouches for the listing's items and digests: the lock gives it, it stays
// while nothing touches the drop's items, and any arrival, update or removal of one, by whatever
// connection, moves it. Only the holder of the lock reads it afterwards.
TEST_P(MailDropStoreReads, TheDropsVersionMovesWithEveryChangeToItsItems) {
  const std::string first = WriteItem(writer_, kDrop, "body one\r\n");
  const std::string second = WriteItem(writer_, kDrop, "body two\r\n");
  const data::DropLock lock = Await(store_.LockWithOutcome(kDrop, kSessionA));
  ASSERT_EQ(lock.outcome, LockOutcome::kLocked);
  const data::DropListing listing = Await(store_.ListItems(kDrop, kSessionA));
  ASSERT_TRUE(listing.changes.has_value());
  EXPECT_EQ(lock.version, listing.changes);
  std::vector<std::uint64_t> read;
  for (const data::ItemDigest& row : Await(store_.DigestsOf(kDrop))) {
    read.push_back(row.digest.value_or(0));
  }
  EXPECT_EQ(listing.digests, read);
  EXPECT_EQ(Await(store_.DropChanges(kDrop, kSessionA)), listing.changes);
  EXPECT_EQ(Await(store_.DropChanges(kDrop, kSessionB)), std::nullopt);

  for (const std::string& change :
       {"UPDATE GatewayItems SET Subject = 'changed' WHERE GWQID = " + first,
        "UPDATE GatewayItems SET Status = 5 WHERE GWQID = " + first,
        "DELETE FROM GatewayItems WHERE GWQID = " + second}) {
    const auto before = Await(store_.DropChanges(kDrop, kSessionA));
    db_->Exec(change);
    EXPECT_NE(Await(store_.DropChanges(kDrop, kSessionA)), before) << change;
  }
  auto before = Await(store_.DropChanges(kDrop, kSessionA));
  const std::string other = WriteItem(writer_, "OTHER@example.com", "another drop's\r\n");
  EXPECT_EQ(Await(store_.DropChanges(kDrop, kSessionA)), before);
  db_->Exec("UPDATE GatewayItems SET ToAddress = 'Carol@Example.com' WHERE GWQID = " + other);
  EXPECT_NE(Await(store_.DropChanges(kDrop, kSessionA)), before) << "moved into the drop";
  before = Await(store_.DropChanges(kDrop, kSessionA));
  WriteItem(writer_, kDrop, "an arrival\r\n");
  EXPECT_NE(Await(store_.DropChanges(kDrop, kSessionA)), before) << "an arrival";
  EXPECT_TRUE(log_.empty());
}

// A body longer than the caller takes at once stays in the database, and its reader gives it
// back exactly, in reads that may end inside a character; one removed meanwhile is an error,
// not an end.
TEST_P(MailDropStoreReads, ALongBodyIsLeftInTheDatabaseAndReadBackInPieces) {
  std::string body;
  for (int line = 0; line < 40; ++line)
    body += "line " + std::to_string(line) + " caf\u00E9 \U0001F600\r\n";
  const std::string id = WriteItem(writer_, kDrop, body);
  ASSERT_TRUE(Await(store_.Lock(kDrop, kSessionA)));
  const auto item = Await(store_.Load(std::stoll(id), 100));
  ASSERT_TRUE(item.has_value());
  EXPECT_TRUE(item->bodyLeft);
  EXPECT_EQ(item->body, std::nullopt);
  EXPECT_FALSE(Await(store_.Load(std::stoll(id), kWhole))->bodyLeft);

  const auto reader = store_.OpenBody(std::stoll(id));
  std::string read;
  std::size_t reads = 0;
  while (Await(reader->ReadNext(read, 7))) ASSERT_LE(++reads, body.size());
  EXPECT_EQ(read, body);
  EXPECT_GT(reads, 40u);
  EXPECT_FALSE(Await(reader->ReadNext(read, 7)));

  db_->Exec("DELETE FROM GatewayBodies WHERE GWQID = " + id);
  const auto gone = store_.OpenBody(std::stoll(id));
  EXPECT_THROW(Await(gone->ReadNext(read, 7)), Failure);
}

TEST_P(MailDropStoreReads, UsersAreFoundByTheirOwnNameOnly) {
  // Names longer than a short string's inline room, so that each call's text lies elsewhere.
  const std::string dave(40, 'd'), erin(40, 'e');
  db_->Exec(
      "INSERT INTO Users (UserID, LogonName, UserPassword, Email, POP3User, AcctDisabled) VALUES "
      "('0123456789ABCDEF0123456789ABCDEF', '" +
      dave + "', 'DIGEST-D', NULL, 1, 0), ('FEDCBA9876543210FEDCBA9876543210', '" + erin +
      "', 'DIGEST-E', 'erin@example.com', 1, 0), ('00000000000000000000000000000000', 'frank', "
      "NULL, 'frank@example.com', 1, 1)");
  for (int round = 0; round < 2; ++round) {
    const auto d = Await(store_.FindUser(dave));
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->userId, "0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(d->userPassword, "DIGEST-D");
    EXPECT_EQ(d->email, std::nullopt);
    const auto e = Await(store_.FindUser(std::string(erin)));
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->userPassword, "DIGEST-E");
    EXPECT_EQ(e->email, "erin@example.com");
  }
  // A disabled account is refused before its damaged digest is read.
  const auto frank = Await(store_.FindUser("FRANK"));
  ASSERT_TRUE(frank.has_value());
  EXPECT_TRUE(frank->disabled);
  EXPECT_EQ(Await(store_.FindUser("nobody")), std::nullopt);
}

// The positions above are found once per field list; they pay off only when the results of one
// procedure share their list, and they must not outlive a change of its columns.
TEST_P(MailDropStoreReads, ResultsOfOneProcedureShareOneFieldListUntilItsColumnsChange) {
  const std::string id = std::to_string(Item("one"));
  Session session(db_->Env());
  const Recordset first = session.data.GetP3ItemStats(id);
  const Recordset again = session.data.GetP3ItemStats(id);
  const Recordset item = session.data.GetP3MailItem(id);
  ASSERT_TRUE(first.Names() && again.Names() && item.Names());
  EXPECT_EQ(first.Names(), again.Names());
  EXPECT_NE(first.Names(), item.Names());

  // The one procedure whose columns vary from call to call.
  const Recordset narrow = session.data.EvaluateSQL("SELECT 1 AS One, 2 AS Two");
  const Recordset wide = session.data.EvaluateSQL("SELECT 3 AS Three, 4 AS Four, 5 AS Five");
  EXPECT_EQ(narrow.RecordCount() + wide.RecordCount(), 2);
  EXPECT_TRUE(narrow.Fields("two").EqualsNumber(2));
  EXPECT_TRUE(wide.Fields("five").EqualsNumber(5));
  EXPECT_TRUE(Raised([&] { (void)wide.Fields("Two"); }).Is(ErrorNumber::kItemNotFound));
}

INSTANTIATE_TEST_SUITE_P(Backends, MailDropStoreReads, kEachBackend, BackendName);

}  // namespace
}  // namespace talvex::test
