// The online copy of the embedded database file; the integrity check is proven end to end.
#include "data/sqlite_maintenance.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/sqlite.hpp"
#include "temp_dir.hpp"

namespace talvex::test {
namespace {

using sqlite::Database;
using TempDir = talvex::testing::TempDir;

std::int64_t Rows(const std::filesystem::path& file) {
  Database db(file, Database::Mode::kReadOnly);
  sqlite::Statement count(db, "SELECT count(*) FROM t");
  count.Step();
  return count.ColumnInt(0);
}

// A WAL database of `rows` rows of 2 KiB each: many pages, so that the copy takes many steps.
void Fill(const std::filesystem::path& file, int rows) {
  Database db(file, Database::Mode::kReadWriteCreate);
  db.Exec("PRAGMA journal_mode = WAL");
  db.Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, payload TEXT)");
  db.Exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
          std::to_string(rows) + ") INSERT INTO t (payload) SELECT randomblob(1024) FROM n");
}

TEST(DatabaseCopy, IsTheStateAtItsStartWhileAnotherConnectionKeepsWriting) {
  TempDir dir;
  const auto source = dir.Path() / "source.db";
  const auto copy = dir.Path() / "copy.db";
  Fill(source, 12000);
  Database writer(source, Database::Mode::kReadWrite);
  int steps = 0;
  std::vector<int> copied;
  data::CopyDatabase(source, copy, [&](const data::CopyProgress& progress) {
    ++steps;
    copied.push_back(progress.pagesCopied);
    writer.Exec("INSERT INTO t (payload) SELECT randomblob(1024) FROM t LIMIT 100");
  });
  EXPECT_GT(steps, 3);
  // Progress only moves forward: a copy that started again would go back.
  EXPECT_TRUE(std::is_sorted(copied.begin(), copied.end()));
  EXPECT_EQ(Rows(copy), 12000);
  EXPECT_GT(Rows(source), 12000);
  EXPECT_TRUE(data::CheckDatabase(copy).empty());
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "copy.db.partial"));
}

TEST(DatabaseCopy, ThatFailsLeavesAnEarlierCopyInPlace) {
  TempDir dir;
  const auto source = dir.Path() / "source.db";
  const auto copy = dir.Path() / "copy.db";
  Fill(source, 10);
  data::CopyDatabase(source, copy, [](const data::CopyProgress&) {});
  std::ofstream(source, std::ios::trunc) << "not a database at all, just some text";
  EXPECT_THROW(data::CopyDatabase(source, copy, [](const data::CopyProgress&) {}), sqlite::Error);
  EXPECT_EQ(Rows(copy), 10);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "copy.db.partial"));
}

}  // namespace
}  // namespace talvex::test
