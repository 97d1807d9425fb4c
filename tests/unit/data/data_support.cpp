#include "data_support.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

#include "data/postgresql_connection.hpp"
#include "platform/sqlite.hpp"

namespace talvex::test {

namespace {

class SqliteTestDatabase final : public TestDatabase {
 public:
  SqliteTestDatabase() {
    env_.dataDir = dir_.Path() / "data";
    DataHandler(env_).GetP3UserDetails("");  // creates the file and its schema
  }
  const Environment& Env() const override { return env_; }
  void Exec(const std::string& sql) override { Open().Exec(sql); }
  std::int64_t QueryInt(const std::string& sql) override {
    const auto db = Open();
    sqlite::Statement query(db, sql);
    query.Step();
    return query.ColumnInt(0);
  }

 private:
  sqlite::Database Open() const {
    return sqlite::Database(env_.EmbeddedDatabasePath(), sqlite::Database::Mode::kReadWrite);
  }
  TempDir dir_;
  Environment env_;
};

std::optional<std::string> ClusterUri() {
  const char* uri = std::getenv("TALVEX_TEST_POSTGRESQL");
  if (!uri || *uri == '\0') return std::nullopt;
  return uri;
}

class PostgresqlTestDatabase final : public TestDatabase {
 public:
  explicit PostgresqlTestDatabase(const std::string& clusterUri)
      : admin_(clusterUri), schema_(NewSchemaName()) {
    admin_.ExecuteScript("CREATE SCHEMA " + schema_);
    const char separator = clusterUri.find('?') == std::string::npos ? '?' : '&';
    env_.dataDir = dir_.Path() / "data";
    env_.database = clusterUri + separator + "options=-csearch_path%3D" + schema_;
    DataHandler(env_).GetP3UserDetails("");  // creates the schema's tables and functions
    connection_.emplace(env_.database);
  }
  ~PostgresqlTestDatabase() override {
    connection_.reset();
    try {
      admin_.ExecuteScript("DROP SCHEMA " + schema_ + " CASCADE");
    } catch (const data::pg::Error&) {
      // The cluster goes with the test run anyway.
    }
  }
  PostgresqlTestDatabase(const PostgresqlTestDatabase&) = delete;
  PostgresqlTestDatabase& operator=(const PostgresqlTestDatabase&) = delete;

  const Environment& Env() const override { return env_; }
  void Exec(const std::string& sql) override { connection_->ExecuteScript(sql); }
  std::int64_t QueryInt(const std::string& sql) override {
    return std::stoll(std::string(connection_->ExecuteScript(sql).Value(0, 0)));
  }

 private:
  static std::string NewSchemaName() {
    static std::atomic<int> next{0};
    return "test_" + std::to_string(getpid()) + "_" + std::to_string(next++);
  }

  TempDir dir_;
  data::pg::Connection admin_;
  std::string schema_;
  Environment env_;
  std::optional<data::pg::Connection> connection_;
};

// What a test gets when there is no cluster: it is skipped before its body runs.
class AbsentDatabase final : public TestDatabase {
 public:
  AbsentDatabase() { env_.database = "postgresql://absent/?host=/nonexistent"; }
  const Environment& Env() const override { return env_; }
  void Exec(const std::string&) override { throw std::logic_error("no PostgreSQL cluster"); }
  std::int64_t QueryInt(const std::string&) override {
    throw std::logic_error("no PostgreSQL cluster");
  }

 private:
  Environment env_;
};

void ReportAbsentCluster() {
  const char* required = std::getenv("TALVEX_REQUIRE_POSTGRESQL");
  if (required && std::string_view(required) == "1") {
    GTEST_FAIL() << "TALVEX_REQUIRE_POSTGRESQL=1 but TALVEX_TEST_POSTGRESQL is not set";
  }
  GTEST_SKIP() << "no PostgreSQL test cluster: run the tests through scripts/with-postgresql "
                  "(or set TALVEX_TEST_POSTGRESQL to a connection URI)";
}

}  // namespace

std::unique_ptr<TestDatabase> MakeSqliteTestDatabase() {
  return std::make_unique<SqliteTestDatabase>();
}

std::unique_ptr<TestDatabase> MakePostgresqlTestDatabase() {
  if (ClusterUri()) return std::make_unique<PostgresqlTestDatabase>(*ClusterUri());
  ReportAbsentCluster();
  return std::make_unique<AbsentDatabase>();
}

Session::Session(const Environment& env, std::shared_ptr<data::BackendPool> pool)
    : data(env, std::move(pool)) {
  data.SetEventLog([this](Severity severity, std::string_view source, std::string_view message) {
    log.push_back({severity, std::string(source), std::string(message)});
  });
}

std::string WriteItem(DataHandler& data, const std::string& to, std::string body,
                      const std::string& direction) {
  std::string messageId = "stored-id", subject = "Subject", id;
  Variant content = "Windows-1252";
  data.WriteGWItem("Mon, 1 Jan 2024 10:00:00 +0000", "test", messageId, content,
                   "sender@example.org", "Sender", to, subject, body, direction, "", "", &id);
  if (id.empty()) throw std::runtime_error("the item was not stored");
  return id;
}

std::vector<std::string> Ids(Recordset rows) {
  std::vector<std::string> ids;
  for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) ids.push_back(rows.Fields("GWQID").ToText());
  return ids;
}

Failure Raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const Failure& failure) {
    return failure;
  }
  return Failure("", 0, "no failure");
}

}  // namespace talvex::test
