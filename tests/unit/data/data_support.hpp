// Shared pieces of the data-layer tests: temporary directories, a fresh database of one
// backend with raw SQL access for arranging what the operations cannot reach (users, lock
// times), sessions that record their log lines, and item writes through the real procedure.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "data/data_access.hpp"
#include "data/data_handler.hpp"
#include "platform/environment.hpp"
#include "temp_dir.hpp"

namespace talvex::test {

using TempDir = testing::TempDir;

// A fresh database whose schema exists, as the process default of Env().
class TestDatabase {
 public:
  virtual ~TestDatabase() = default;
  virtual const Environment& Env() const = 0;
  virtual void Exec(const std::string& sql) = 0;
  // The first column of the first row.
  virtual std::int64_t QueryInt(const std::string& sql) = 0;
};

std::unique_ptr<TestDatabase> MakeSqliteTestDatabase();

// A backend under test: its name in the test names and how to make a fresh database of it.
struct TestBackend {
  const char* name;
  std::unique_ptr<TestDatabase> (*make)();
};
inline void PrintTo(const TestBackend& backend, std::ostream* out) {
  *out << backend.name;
}

struct LogLine {
  std::string dateTime;
  std::int32_t messageType;
  std::string source;
  std::string message;
};

// A session's DataHandler with the lines it logged.
struct Session {
  explicit Session(const Environment& env);
  DataHandler data;
  std::vector<LogLine> log;
};

// Stores an item through SMS_WriteGWItem and returns its GWQID.
std::int64_t WriteItem(DataAccess& access, const std::string& to, const std::string& body = "b",
                       const std::string& direction = "O");

// The GWQID of every row, as text.
std::vector<std::string> Ids(Recordset rows);

inline const std::string kSessionA(32, 'A');
inline const std::string kSessionB(32, 'B');
inline const std::string kSessionC(32, 'C');

}  // namespace talvex::test
