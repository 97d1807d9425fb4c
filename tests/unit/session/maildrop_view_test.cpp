// What the mail-drop view answers for the listings, on a real embedded database: sizes and
// identifiers as the composer works them out from the fields stored now, however often they
// are asked, by however many sessions sharing one memory, and whatever changed behind their
// backs.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "await.hpp"
#include "data/data_handler.hpp"
#include "data/sqlite_setup.hpp"
#include "platform/sqlite.hpp"
#include "session/maildrop_view.hpp"
#include "session/message_composer.hpp"
#include "temp_dir.hpp"

namespace talvex {
namespace {

using test::Await;

const std::string kDrop = "user@example.com";
const std::string kSession(32, 'V');
constexpr std::string_view kHost = "pop.example.com";

class MailDropViewListing : public ::testing::Test {
 protected:
  MailDropViewListing() {
    DataHandler(env_).GetP3UserDetails("");  // creates the database
  }

  // Stores an item of the drop as the writing procedure does, with the digest of its fields; a
  // null date or message identifier is given as nullopt.
  std::int64_t Store(const std::optional<std::string>& date,
                     const std::optional<std::string>& messageId,
                     const std::string& subject = "Subject") {
    const auto text = [](const std::optional<std::string>& value) {
      return value ? "'" + *value + "'" : std::string("NULL");
    };
    Exec(
        "INSERT INTO GatewayItems (DTReceived, MessageID, Content, FromAddress, FromName, "
        "ToAddress, Subject, BodyLength, Direction) VALUES (" +
        text(date) + ", " + text(messageId) + ", 'text/plain', 'sender@example.org', 'Sender', " +
        text(kDrop) + ", " + text(subject) + ", 10, 'O')");
    Exec(
        "UPDATE GatewayItems SET FieldsDigest = fields_digest(MessageID, DTReceived, Subject, "
        "Content, FromName, FromAddress, ToAddress, BodyLength) WHERE GWQID = last_insert_rowid()");
    return sqlite3_last_insert_rowid(Db().Handle());
  }

  void Exec(const std::string& sql) { Db().Exec(sql); }

  MailDropView View(const std::string& session, std::shared_ptr<MessageFacts> facts = {}) {
    return {data::MailDropStore(env_, nullptr, [](Severity, std::string_view, std::string_view) {}),
            session, std::move(facts)};
  }

  MailDropView Open(std::shared_ptr<MessageFacts> facts) {
    MailDropView view = View(kSession, std::move(facts));
    EXPECT_EQ(Await(view.Open(kDrop)), LockOutcome::kLocked);
    return view;
  }

  sqlite::Database& Db() {
    if (!db_) {
      db_.emplace(env_.EmbeddedDatabasePath(), sqlite::Database::Mode::kReadWrite);
      data::ConfigureConnection(*db_, nullptr, nullptr);
    }
    return *db_;
  }

  testing::TempDir dir_;
  Environment env_{dir_.Path(), ""};
  std::optional<sqlite::Database> db_;
};

// Another session's lock on a drop it serves is a drop in use; a lock the database cannot take
// is a failure, which the client is told apart from the other.
TEST_F(MailDropViewListing, LockHeldElsewhereIsInUseAndABrokenDatabaseAFailure) {
  Store("Mon, 1 Jan 2024 10:00:00 +0000", "held");
  MailDropView holder = View(std::string(32, 'A'));
  ASSERT_EQ(Await(holder.Open(kDrop)), LockOutcome::kLocked);
  MailDropView second = View(std::string(32, 'B'));
  EXPECT_EQ(Await(second.Open(kDrop)), LockOutcome::kInUse);
  EXPECT_EQ(second.Count(), 0U);
  Exec("DROP TABLE MailDropLocks");
  MailDropView third = View(std::string(32, 'C'));
  EXPECT_EQ(Await(third.Open(kDrop)), LockOutcome::kFailed);
  EXPECT_EQ(third.Count(), 0U);
}

// Each message's answers, asked twice, by a later session and after its fields changed,
// against what the composer makes of the fields the database holds at that moment; with the
// server's memory and without.
TEST_F(MailDropViewListing, SizesAndIdentifiersFollowTheStoredFields) {
  const std::string date = "Mon, 1 Jan 2024 10:00:00 +0000";
  const std::int64_t stored = Store(date, "stored-identifier");
  const std::int64_t generated = Store(date, "");
  const std::int64_t nullId = Store(date, std::nullopt, "Other");
  Store(std::nullopt, std::nullopt);  // dated when composed
  const auto facts = std::make_shared<MessageFacts>();
  for (const auto& memory : {facts, std::shared_ptr<MessageFacts>()}) {
    Exec("DELETE FROM MailDropLocks");
    MailDropView view = Open(memory);
    ASSERT_EQ(view.Count(), 4u);
    // What each message shows is what its current fields give, and each answer only what
    // the listing asked for or the fields to work it out from. Remembered after the first pass
    // are the messages with the digest they were stored with: not those changed since, nor
    // the one dated anew each time (4).
    const auto check = [&](const char* when, std::set<std::size_t> changed) {
      for (int pass = 0; pass < 2; ++pass) {
        const auto sizes = Await(view.AllStats(MailDropView::Need::kSize, kHost));
        const auto ids = Await(view.AllStats(MailDropView::Need::kUniqueId, kHost));
        ASSERT_EQ(sizes.size(), 4u);
        for (std::size_t n = 1; n <= 4; ++n) {
          ASSERT_TRUE(sizes[n - 1] && ids[n - 1]) << when << n;
          const auto fields = Await(view.Stats(n));
          ASSERT_TRUE(fields && fields->stats) << when << n;
          const data::ItemStats& item = *fields->stats;
          EXPECT_EQ(view.Size(*sizes[n - 1], kHost), MessageSize(item, kHost)) << when << n;
          if (n < 4) {  // the last is dated anew each time, so its identifier may change
            EXPECT_EQ(view.UniqueId(*ids[n - 1], kHost), UniqueIdentifier(item.header, kHost))
                << when << n;
          }
          EXPECT_EQ(sizes[n - 1]->stats != nullptr,
                    !memory || pass == 0 || n == 4 || changed.contains(n))
              << when << n;
        }
      }
    };
    Exec("UPDATE GatewayItems SET Subject = 'Subject' WHERE GWQID = " + std::to_string(generated));
    check("first ", {2});
    // The host name is part of the header block, so of the generated identifier.
    const auto ids = Await(view.AllStats(MailDropView::Need::kUniqueId, kHost));
    const std::string generatedId = view.UniqueId(*ids[1], kHost);
    EXPECT_EQ(generatedId.size(), 32u);
    const auto elsewhere = Await(view.AllStats(MailDropView::Need::kUniqueId, "other.example"));
    EXPECT_NE(view.UniqueId(*elsewhere[1], "other.example"), generatedId);
    EXPECT_EQ(view.UniqueId(*ids[0], kHost), "stored-identifier");

    Exec("UPDATE GatewayItems SET BodyLength = 1000 WHERE GWQID = " + std::to_string(stored));
    Exec("UPDATE GatewayItems SET Subject = 'Changed subject' WHERE GWQID = " +
         std::to_string(generated));
    Exec("UPDATE GatewayItems SET MessageID = 'given-later' WHERE GWQID = " +
         std::to_string(nullId));
    check("changed ", {1, 2, 3});
    const auto after = Await(view.AllStats(MailDropView::Need::kUniqueId, kHost));
    EXPECT_NE(view.UniqueId(*after[1], kHost), generatedId);
    EXPECT_EQ(view.UniqueId(*after[2], kHost), "given-later");
    Exec(
        "UPDATE GatewayItems SET BodyLength = 10, MessageID = NULL, Subject = 'Other' "
        "WHERE GWQID IN (" +
        std::to_string(stored) + ", " + std::to_string(nullId) + ")");
    Exec("UPDATE GatewayItems SET MessageID = 'stored-identifier' WHERE GWQID = " +
         std::to_string(stored));
    Exec("UPDATE GatewayItems SET SessionID = NULL");
  }
}

// The whole-drop read leaves out just what the item-by-item read leaves out: items removed or
// marked deleted behind the session's back, not those another session took over or that were
// readdressed.
TEST_F(MailDropViewListing, ItemsGoneBehindTheSessionsBackAreLeftOutAsByTheSingleRead) {
  const std::string date = "Tue, 2 Jan 2024 10:00:00 +0000";
  Store(date, "");
  const std::int64_t removed = Store(date, "");
  const std::int64_t marked = Store(date, "");
  const std::int64_t takenOver = Store(date, "");
  const std::int64_t readdressed = Store(date, "");
  MailDropView view = Open(std::make_shared<MessageFacts>());
  ASSERT_EQ(view.Count(), 5u);
  const MailDropView::Shown first = Await(view.AllStats(MailDropView::Need::kUniqueId, kHost));
  for (const auto& item : first) ASSERT_TRUE(item);
  const std::string keptId = view.UniqueId(*first[0], kHost);

  Exec("DELETE FROM GatewayItems WHERE GWQID = " + std::to_string(removed));
  Exec("UPDATE GatewayItems SET Status = 5 WHERE GWQID = " + std::to_string(marked));
  Exec("UPDATE GatewayItems SET SessionID = 'another' WHERE GWQID = " + std::to_string(takenOver));
  Exec("UPDATE GatewayItems SET ToAddress = 'other@example.org' WHERE GWQID = " +
       std::to_string(readdressed));
  const MailDropView::Shown shown = Await(view.AllStats(MailDropView::Need::kUniqueId, kHost));
  ASSERT_EQ(shown.size(), 5u);
  for (std::size_t n = 1; n <= 5; ++n) {
    EXPECT_EQ(shown[n - 1].has_value(), Await(view.Stats(n)).has_value()) << n;
  }
  EXPECT_TRUE(shown[0] && shown[3] && shown[4]);
  EXPECT_FALSE(shown[1] || shown[2]);
  EXPECT_EQ(view.UniqueId(*shown[0], kHost), keptId);
  EXPECT_FALSE(shown[0]->stats);  // remembered: its fields were not read again
}

// A log-in lists its drop from the server's memory exactly while the drop's version is the one
// that listing was made under, and every change to the drop's items moves the version: each
// log-in lists the items that a log-in without the memory lists.
TEST_F(MailDropViewListing, LogInsListFromMemoryOnlyWhileTheDropIsUnchanged) {
  const std::string date = "Wed, 3 Jan 2024 10:00:00 +0000";
  const std::int64_t first = Store(date, "first");
  const std::int64_t second = Store(date, "second");
  const auto facts = std::make_shared<MessageFacts>();
  std::size_t sessions = 0;
  // The items a log-in to `address` lists; the session then ends as a QUIT without DELE does.
  const auto listed = [&](const std::shared_ptr<MessageFacts>& memory,
                          const std::string& address = kDrop) {
    std::string id = std::to_string(++sessions);
    id.insert(0, 32 - id.size(), 'S');
    MailDropView view = View(id, memory);
    EXPECT_EQ(Await(view.Open(address)), LockOutcome::kLocked);
    std::vector<std::int64_t> items;
    for (std::size_t n = 1; n <= view.Count(); ++n) items.push_back(Await(view.Stats(n))->itemId);
    EXPECT_TRUE(Await(view.Release()));
    return items;
  };
  const auto sameAsRead = [&](const char* after) {
    const auto remembered = listed(facts);
    EXPECT_EQ(remembered, listed(nullptr)) << after;
    EXPECT_EQ(listed(facts), remembered) << after;  // and again, now certainly from memory
  };
  sameAsRead("the first log-in");
  EXPECT_EQ(listed(facts, "USER@Example.com").size(), 2u);

  Store(date, "third");
  sameAsRead("an arrival");
  Exec("UPDATE GatewayItems SET Subject = 'Changed' WHERE GWQID = " + std::to_string(first));
  sameAsRead("a changed field");
  {
    MailDropView view = Open(facts);
    ASSERT_TRUE(Await(view.MarkDeleted(1, data::ItemStatus::kDeleted)));
    ASSERT_TRUE(Await(view.RemoveDeleted()));
    ASSERT_TRUE(Await(view.Release()));
  }
  sameAsRead("a deletion");
  Exec("UPDATE GatewayItems SET ToAddress = 'other@example.org' WHERE GWQID = " +
       std::to_string(second));
  sameAsRead("a readdressing");
  EXPECT_EQ(listed(facts).size(), 1u);

  // Proof that the memory answers: an arrival that does not move the version goes unseen by a
  // log-in with the memory until the version moves.
  Exec("DROP TRIGGER GatewayItems_DropVersionByInsert");
  Exec("DROP TRIGGER GatewayItems_DropVersionByUpdate");  // storing sets the digest by an update
  Store(date, "unseen");
  EXPECT_EQ(listed(facts).size(), 1u);
  EXPECT_EQ(listed(nullptr).size(), 2u);
  Exec("UPDATE MailDropVersions SET Version = Version + 1");
  EXPECT_EQ(listed(facts).size(), 2u);
}

}  // namespace
}  // namespace talvex
