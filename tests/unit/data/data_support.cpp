#include "data_support.hpp"

#include <cstdlib>
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
    return sqlite::Database(env_.EmbeddedDatabasePath(), sqlite::Database::Mode::ReadWrite);
  }
  TempDir dir_;
  Environment env_;
};

}  // namespace

std::unique_ptr<TestDatabase> MakeSqliteTestDatabase() {
  return std::make_unique<SqliteTestDatabase>();
}

Session::Session(const Environment& env) : data(env) {
  data.SetEventLog([this](const std::string& dateTime, std::int32_t type, const std::string& source,
                          const std::string& message) {
    log.push_back({dateTime, type, source, message});
  });
}

std::int64_t WriteItem(DataAccess& access, const std::string& to, const std::string& body,
                       const std::string& direction) {
  const std::vector<ParameterDescriptor> item = {
      {"DTReceived", adtype::kVarChar, 255, "Mon, 1 Jan 2024 10:00:00 +0000"},
      {"Source", adtype::kVarChar, 255, "test"},
      {"MessageID", adtype::kVarChar, 255, "stored-id"},
      {"Content", adtype::kVarChar, 255, "text/plain; charset=\"Windows-1252\""},
      {"FromAddress", adtype::kVarChar, 255, "sender@example.org"},
      {"FromName", adtype::kVarChar, 255, "Sender"},
      {"ToAddress", adtype::kVarChar, 4096, to},
      {"Subject", adtype::kVarChar, 255, "Subject"},
      {"Body", adtype::kLongVarWChar, static_cast<std::int32_t>(body.size() + 1), body},
      {"Direction", adtype::kChar, 1, direction},
      {"RawData", adtype::kVarChar, 255, ""},
      {"Transport", adtype::kSmallInt, 2, ""},
  };
  return access.RunProcedureQuery("SMS_WriteGWItem", "", kCmdStoredProc, item)
      .Fields("GWQID")
      .ToInt64();
}

std::vector<std::string> Ids(Recordset rows) {
  std::vector<std::string> ids;
  for (rows.MoveFirst(); !rows.Eof(); rows.MoveNext()) ids.push_back(rows.Fields("GWQID").ToText());
  return ids;
}

}  // namespace talvex::test
