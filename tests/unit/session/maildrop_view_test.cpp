// What the mail-drop view answers for the listings, on a real embedded database: sizes and
// identifiers as the composer works them out from the fields stored now, however often they
// are asked and whatever changed behind the session's back.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "await.hpp"
#include "data/data_handler.hpp"
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

  // Stores an item of the drop; a null date or message identifier is given as nullopt.
  std::int64_t Store(const std::optional<std::string>& date,
                     const std::optional<std::string>& messageId,
                     const std::string& subject = "Subject", std::int64_t bodyLength = 10) {
    sqlite::Statement insert(
        Db(),
        "INSERT INTO GatewayItems (DTReceived, MessageID, Content, FromAddress, FromName, "
        "ToAddress, Subject, BodyLength, Direction) VALUES (?1, ?2, 'text/plain', "
        "'sender@example.org', 'Sender', ?3, ?4, ?5, 'O')");
    const auto bindText = [&](int index, const std::optional<std::string>& text) {
      if (text) {
        insert.Bind(index, std::string_view(*text));
      } else {
        insert.BindNull(index);
      }
    };
    bindText(1, date);
    bindText(2, messageId);
    insert.Bind(3, std::string_view(kDrop));
    insert.Bind(4, std::string_view(subject));
    insert.Bind(5, bodyLength);
    insert.Step();
    return sqlite3_last_insert_rowid(Db().Handle());
  }

  void Exec(const std::string& sql) { Db().Exec(sql); }

  MailDropView Open() {
    MailDropView view(
        data::MailDropStore(env_, nullptr, [](Severity, std::string_view, std::string_view) {}),
        kSession);
    EXPECT_EQ(Await(view.Open(kDrop)), LockOutcome::kLocked);
    return view;
  }

  sqlite::Database& Db() {
    if (!db_) db_.emplace(env_.EmbeddedDatabasePath(), sqlite::Database::Mode::kReadWrite);
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
  const auto view = [this](char session) {
    return MailDropView(
        data::MailDropStore(env_, nullptr, [](Severity, std::string_view, std::string_view) {}),
        std::string(32, session));
  };
  MailDropView holder = view('A');
  ASSERT_EQ(Await(holder.Open(kDrop)), LockOutcome::kLocked);
  MailDropView second = view('B');
  EXPECT_EQ(Await(second.Open(kDrop)), LockOutcome::kInUse);
  EXPECT_EQ(second.Count(), 0U);
  Exec("DROP TABLE MailDropLocks");
  MailDropView third = view('C');
  EXPECT_EQ(Await(third.Open(kDrop)), LockOutcome::kFailed);
  EXPECT_EQ(third.Count(), 0U);
}

// Each message's answers, asked twice and after its fields changed, against what the composer
// makes of the fields the database holds at that moment.
TEST_F(MailDropViewListing, SizesAndIdentifiersFollowTheStoredFields) {
  const std::string date = "Mon, 1 Jan 2024 10:00:00 +0000";
  const std::int64_t stored = Store(date, "stored-identifier");
  const std::int64_t generated = Store(date, "");
  const std::int64_t nullId = Store(date, std::nullopt, "Other");
  Store(std::nullopt, std::nullopt);  // dated when composed
  MailDropView view = Open();
  ASSERT_EQ(view.Count(), 4u);

  const auto check = [&](const MailDropView::Shown& shown, const char* when) {
    ASSERT_EQ(shown.size(), 4u);
    for (int pass = 0; pass < 2; ++pass) {
      for (std::size_t n = 1; n <= 3; ++n) {
        ASSERT_TRUE(shown[n - 1]) << when << n;
        const data::ItemStats& item = *shown[n - 1];
        EXPECT_EQ(view.Size(n, item, kHost), MessageSize(item, kHost)) << when << n;
        EXPECT_EQ(view.UniqueId(n, item, kHost), UniqueIdentifier(item.header, kHost)) << when << n;
      }
    }
  };
  const MailDropView::Shown before = Await(view.AllStats());
  check(before, "before ");
  const std::string generatedId = view.UniqueId(2, *before[1], kHost);
  const std::int64_t storedSize = view.Size(1, *before[0], kHost);
  EXPECT_EQ(view.UniqueId(1, *before[0], kHost), "stored-identifier");
  EXPECT_EQ(generatedId.size(), 32u);
  // The host name is part of the header block, so of the generated identifier.
  EXPECT_NE(view.UniqueId(2, *before[1], "other.example.com"), generatedId);
  EXPECT_EQ(view.UniqueId(2, *before[1], kHost), generatedId);

  Exec("UPDATE GatewayItems SET BodyLength = 1000 WHERE GWQID = " + std::to_string(stored));
  Exec("UPDATE GatewayItems SET Subject = 'Changed subject' WHERE GWQID = " +
       std::to_string(generated));
  Exec("UPDATE GatewayItems SET MessageID = 'given-later' WHERE GWQID = " + std::to_string(nullId));
  const MailDropView::Shown after = Await(view.AllStats());
  check(after, "after ");
  EXPECT_EQ(view.Size(1, *after[0], kHost), storedSize + 990);
  EXPECT_NE(view.UniqueId(2, *after[1], kHost), generatedId);
  EXPECT_EQ(view.UniqueId(3, *after[2], kHost), "given-later");
  // The single read agrees with the whole-drop one.
  const auto single = Await(view.Stats(2));
  ASSERT_TRUE(single);
  EXPECT_EQ(view.UniqueId(2, *single, kHost), view.UniqueId(2, *after[1], kHost));
}

// The whole-drop read leaves out just what the item-by-item read leaves out: items removed or
// marked deleted behind the session's back, not those another session took over.
TEST_F(MailDropViewListing, ItemsGoneBehindTheSessionsBackAreLeftOutAsByTheSingleRead) {
  const std::string date = "Tue, 2 Jan 2024 10:00:00 +0000";
  Store(date, "");
  const std::int64_t removed = Store(date, "");
  const std::int64_t marked = Store(date, "");
  const std::int64_t takenOver = Store(date, "");
  MailDropView view = Open();
  ASSERT_EQ(view.Count(), 4u);
  const MailDropView::Shown first = Await(view.AllStats());
  for (const auto& item : first) ASSERT_TRUE(item);
  const std::string keptId = view.UniqueId(1, *first[0], kHost);

  Exec("DELETE FROM GatewayItems WHERE GWQID = " + std::to_string(removed));
  Exec("UPDATE GatewayItems SET Status = 5 WHERE GWQID = " + std::to_string(marked));
  Exec("UPDATE GatewayItems SET SessionID = 'another' WHERE GWQID = " + std::to_string(takenOver));
  const MailDropView::Shown shown = Await(view.AllStats());
  ASSERT_EQ(shown.size(), 4u);
  for (std::size_t n = 1; n <= 4; ++n) {
    EXPECT_EQ(shown[n - 1].has_value(), Await(view.Stats(n)).has_value()) << n;
  }
  EXPECT_TRUE(shown[0] && shown[3]);
  EXPECT_FALSE(shown[1] || shown[2]);
  EXPECT_EQ(view.UniqueId(1, *shown[0], kHost), keptId);
}

}  // namespace
}  // namespace talvex
