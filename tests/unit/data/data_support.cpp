#include "data_support.hpp"

#include <stdexcept>

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

}  // namespace

std::unique_ptr<TestDatabase> MakeSqliteTestDatabase() {
  return std::make_unique<SqliteTestDatabase>();
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
