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

constexpr int kPagesPerCommit = 25;  // a 100 KB value fills about as many 4 KiB pages
constexpr int kCommitsPerRequest = data::SqliteCheckpointer::kRequestFrames / kPagesPerCommit + 1;

// A connection in WAL mode with a table of large values, served by a checkpointer.
struct Logged {
  talvex::testing::TempDir dir;
  std::filesystem::path file = dir.Path() / "t.db";
  data::SqliteCheckpointer checkpointer{file};
  Database db{file, Database::Mode::kReadWriteCreate};

  Logged() {
    db.Exec("PRAGMA journal_mode = WAL");
    db.Exec("PRAGMA synchronous = OFF");  // the disk's speed is not what is tested here
    db.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, payload BLOB)");
    checkpointer.Serve(db.Handle());
  }
  void Commit(int times) {
    for (int i = 0; i < times; ++i) {
      sqlite::Statement insert(db, "INSERT INTO t (payload) VALUES (zeroblob(100000))");
      insert.Step();
    }
  }
  std::uintmax_t LogSize() const { return std::filesystem::file_size(dir.Path() / "t.db-wal"); }
};

TEST(SqliteCheckpointer, StartsTheLogOverAtEachRequest) {
  Logged logged;
  // Each round writes more than one request's worth of frames over many commits, and waits
  // for the thread's checkpoint; the writer never checkpoints by itself before the log holds
  // kFallbackFrames, more than all rounds write.
  constexpr int kRounds = 16;
  for (int round = 0; round < kRounds; ++round) {
    const std::uint32_t before = logged.checkpointer.Completed();
    logged.Commit(kCommitsPerRequest);
    ASSERT_TRUE(Eventually([&] { return logged.checkpointer.Completed() > before; })) << round;
  }
  // The log starts over once its frames are copied, so it never holds much more than the
  // frames of a request or two (a pass that meets a commit under way ends short).
  EXPECT_LT(logged.LogSize(), std::uintmax_t{3} * data::SqliteCheckpointer::kRequestFrames * 4096);
  sqlite::Statement count(logged.db, "SELECT count(*) FROM t");
  count.Step();
  EXPECT_EQ(count.ColumnInt(0), kRounds * kCommitsPerRequest);
}

// A reader of an older state keeps the log from starting over; the passes meanwhile must not
// hold the writer back while they wait for it (a long body read keeps such a state for
// seconds). The writer here gives up after half a second, where a pass waiting for the reader
// would hold it for five: it commits on through two passes over a long log.
TEST(SqliteCheckpointer, AReaderOfAnOlderStateNeverHoldsTheWriterUp) {
  Logged logged;
  Database reader(logged.file, Database::Mode::kReadWrite);
  reader.Exec("BEGIN");
  sqlite::Statement snapshot(reader, "SELECT count(*) FROM t");
  ASSERT_TRUE(snapshot.Step());
  sqlite3_busy_timeout(logged.db.Handle(), 500);
  ASSERT_NO_THROW(logged.Commit(5 * kCommitsPerRequest));
  const std::uint32_t before = logged.checkpointer.Completed();
  EXPECT_TRUE(Eventually([&] {
    logged.Commit(1);  // raises when held up
    return logged.checkpointer.Completed() >= before + 2;
  }));
  snapshot.Reset();
  reader.Exec("COMMIT");
}

}  // namespace
}  // namespace talvex::test
