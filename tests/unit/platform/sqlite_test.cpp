// Transactions over the connection's kept control statements: each outcome (committed, rolled
// back on scope exit, refused at COMMIT, refused at BEGIN) leaves the connection able to run
// the next transaction.
#include "platform/sqlite.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "temp_dir.hpp"

namespace talvex::sqlite {
namespace {

class SqliteTransaction : public ::testing::Test {
 protected:
  SqliteTransaction() {
    db_.Exec("PRAGMA foreign_keys = ON");
    db_.Exec("CREATE TABLE Parent (Id INTEGER PRIMARY KEY)");
    // Checked at COMMIT, so that a transaction can be refused at its end.
    db_.Exec(
        "CREATE TABLE Child (ParentId INTEGER REFERENCES Parent (Id) "
        "DEFERRABLE INITIALLY DEFERRED)");
  }

  std::int64_t Count(const char* table) {
    Statement count(db_, std::string("SELECT count(*) FROM ") + table);
    count.Step();
    return count.ColumnInt(0);
  }

  void AddParent(std::int64_t id) {
    Transaction transaction(db_);
    Statement(db_, "INSERT INTO Parent (Id) VALUES (?1)").Bind(1, id).Step();
    transaction.Commit();
  }

  talvex::testing::TempDir dir_;
  std::filesystem::path file_ = dir_.Path() / "test.db";
  Database db_{file_, Database::Mode::kReadWriteCreate};
};

TEST_F(SqliteTransaction, CommitsAndRollsBackAgainAndAgain) {
  for (std::int64_t id = 1; id <= 3; ++id) {
    AddParent(id);
    {
      Transaction abandoned(db_, false);
      db_.Exec("DELETE FROM Parent");
    }
    EXPECT_EQ(Count("Parent"), id);
  }
}

TEST_F(SqliteTransaction, ARefusedCommitRaisesAndRollsBack) {
  AddParent(1);
  {
    Transaction transaction(db_);
    db_.Exec("INSERT INTO Child (ParentId) VALUES (1), (99)");
    try {
      transaction.Commit();
      ADD_FAILURE() << "the commit of an orphan row succeeded";
    } catch (const Error& error) {
      EXPECT_EQ(error.Code(), SQLITE_CONSTRAINT_FOREIGNKEY);
      EXPECT_STREQ(error.what(), "FOREIGN KEY constraint failed");
    }
  }
  EXPECT_EQ(Count("Child"), 0);
  AddParent(2);
  EXPECT_EQ(Count("Parent"), 2);
}

TEST_F(SqliteTransaction, ABusyBeginRaisesAndTheNextOneSucceeds) {
  Database other(file_, Database::Mode::kReadWrite, 0);
  auto holder = std::make_unique<Transaction>(other);  // holds the write lock
  Database waiting(file_, Database::Mode::kReadWrite, 0);
  try {
    Transaction refused(waiting);
    ADD_FAILURE() << "BEGIN IMMEDIATE succeeded while another connection writes";
  } catch (const Error& error) {
    EXPECT_EQ(error.Code(), SQLITE_BUSY);
  }
  holder.reset();  // rolls back, releasing the lock
  Transaction granted(waiting);
  Statement(waiting, "INSERT INTO Parent (Id) VALUES (7)").Step();
  granted.Commit();
  EXPECT_EQ(Count("Parent"), 1);
}

}  // namespace
}  // namespace talvex::sqlite
