// Shared pieces of the data-layer tests: a fresh database per backend with raw SQL access for
// arranging what the operations cannot reach, sessions that record their log lines, and items.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/data_handler.hpp"
#include "temp_dir.hpp"

namespace talvex::test {

using TempDir = testing::TempDir;

// A fresh database whose schema exists, the process default of Env().
class TestDatabase {
 public:
  virtual ~TestDatabase() = default;
  virtual const Environment& Env() const = 0;
  virtual void Exec(const std::string& sql) = 0;
  virtual std::int64_t QueryInt(const std::string& sql) = 0;  // first column of the first row
};

std::unique_ptr<TestDatabase> MakeSqliteTestDatabase();

// A fresh schema on the PostgreSQL test cluster whose URI TALVEX_TEST_POSTGRESQL holds; the
// schema is the connection's search path and is dropped with the object. Without a cluster the
// calling test is skipped, or fails when TALVEX_REQUIRE_POSTGRESQL=1 says that there must be
// one; a stand-in that fails every use is returned then, which the test body never reaches.
std::unique_ptr<TestDatabase> MakePostgresqlTestDatabase();

struct TestBackend {
  const char* name;
  std::unique_ptr<TestDatabase> (*make)();
};
inline void PrintTo(const TestBackend& backend, std::ostream* out) {
  *out << backend.name;
}

// A suite whose every case runs once per engine, each on a fresh database of its own:
// INSTANTIATE_TEST_SUITE_P(Backends, Suite, kEachBackend, BackendName).
class OnEachBackend : public ::testing::TestWithParam<TestBackend> {
 protected:
  std::unique_ptr<TestDatabase> db_ = GetParam().make();
};
inline const auto kEachBackend =
    ::testing::Values(TestBackend{"Sqlite", &MakeSqliteTestDatabase},
                      TestBackend{"Postgresql", &MakePostgresqlTestDatabase});
inline std::string BackendName(const ::testing::TestParamInfo<TestBackend>& info) {
  return info.param.name;
}

// A test on a fresh schema of the PostgreSQL test cluster; without one, its body never runs.
class OnPostgresql : public ::testing::Test {
 protected:
  std::unique_ptr<TestDatabase> db_ = MakePostgresqlTestDatabase();
};

struct LogLine {
  Severity severity;
  std::string source;
  std::string message;
};

// A session's DataHandler with the lines it logged.
struct Session {
  // With `pool`, the backends that the pool provides serve the session's calls.
  explicit Session(const Environment& env, std::shared_ptr<data::BackendPool> pool = {});
  DataHandler data;
  std::vector<LogLine> log;
};

// Stores an item and returns its GWQID; throws when the write fails.
std::string WriteItem(DataHandler& data, const std::string& to, std::string body = "b",
                      const std::string& direction = "O");

std::vector<std::string> Ids(Recordset rows);  // the GWQID of every row, as text

// The Failure that `call` raises; one numbered 0 when it raises none.
Failure Raised(const std::function<void()>& call);

inline const std::string kSessionA(32, 'A');
inline const std::string kSessionB(32, 'B');

}  // namespace talvex::test
