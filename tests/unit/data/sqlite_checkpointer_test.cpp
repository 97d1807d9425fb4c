// The checkpoint thread keeps the write-ahead log of a busy connection short, without the
// connection checkpointing by itself.
#include "data/sqlite_checkpointer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/sqlite.hpp"
#include "temp_dir.hpp"

namespace talvex::test {
namespace {

using sqlite::Database;

// Waits until `done` holds, for at most ten seconds.
template <class Done>
bool Eventually(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST(SqliteCheckpointer, KeepsTheLogOfManyCommitsBounded) {
  talvex::testing::TempDir dir;
  const auto file = dir.Path() / "t.db";
  const auto log = dir.Path() / "t.db-wal";
  data::SqliteCheckpointer checkpointer(file);
  Database db(file, Database::Mode::kReadWriteCreate);
  db.Exec("PRAGMA journal_mode = WAL");
  db.Exec("PRAGMA synchronous = OFF");  // the disk's speed is not what is tested here
  db.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, payload BLOB)");
  checkpointer.Serve(db.Handle());
  // Each round writes more than one request's worth of frames over many commits, and waits
  // for the thread's checkpoint; the writer never checkpoints by itself before the log holds
  // kFallbackFrames, more than all rounds write.
  constexpr int kRounds = 16;
  constexpr int kPagesPerCommit = 25;  // a 100 KB value fills about as many 4 KiB pages
  for (int round = 0; round < kRounds; ++round) {
    const std::uint32_t before = checkpointer.Completed();
    for (int i = 0; i < data::SqliteCheckpointer::kRequestFrames / kPagesPerCommit + 1; ++i) {
      sqlite::Statement insert(db, "INSERT INTO t (payload) VALUES (zeroblob(100000))");
      insert.Step();
    }
    ASSERT_TRUE(Eventually([&] { return checkpointer.Completed() > before; })) << round;
  }
  // Without checkpoints the log would hold every round's frames: 16 x ~1000 pages, 64 MB.
  const auto unchecked = std::uintmax_t{kRounds} * data::SqliteCheckpointer::kRequestFrames * 4096;
  EXPECT_LT(std::filesystem::file_size(log), unchecked / 2);
  sqlite::Statement count(db, "SELECT count(*) FROM t");
  count.Step();
  EXPECT_EQ(count.ColumnInt(0),
            kRounds * (data::SqliteCheckpointer::kRequestFrames / kPagesPerCommit + 1));
}

}  // namespace
}  // namespace talvex::test
