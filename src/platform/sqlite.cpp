// RAII wrappers of SQLite connections, statements and transactions.
#include "platform/sqlite.hpp"

#include "platform/data_directory.hpp"

namespace talvex::sqlite {

Database::Database(const std::filesystem::path& path, Mode mode, int busyTimeoutMs) {
  int flags = SQLITE_OPEN_NOMUTEX;
  switch (mode) {
    case Mode::kReadOnly:
      flags |= SQLITE_OPEN_READONLY;
      break;
    case Mode::kReadWrite:
      flags |= SQLITE_OPEN_READWRITE;
      break;
    case Mode::kReadWriteCreate:
      flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
      if (const auto problem = CreateDataDirectory(path)) throw Error(SQLITE_CANTOPEN, *problem);
      break;
  }
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) {
    const std::string message = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    throw Error(rc, "cannot open database '" + path.string() + "': " + message);
  }
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, busyTimeoutMs);
}

void Database::Exec(std::string_view sql) {
  char* message = nullptr;
  const std::string text(sql);
  const int rc = sqlite3_exec(db_.get(), text.c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    const std::string what = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    throw Error(rc, what);
  }
}

Statement::Statement(const Database& db, std::string_view sql) : db_(db.Handle()) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  stmt_.reset(raw);
  Check(rc);
}

void Statement::Check(int rc) const {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
    throw Error(rc, sqlite3_errmsg(db_));
  }
}

Statement& Statement::Bind(int index, std::int64_t value) {
  Check(sqlite3_bind_int64(stmt_.get(), index, value));
  return *this;
}

Statement& Statement::Bind(int index, double value) {
  Check(sqlite3_bind_double(stmt_.get(), index, value));
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  Check(sqlite3_bind_text64(stmt_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8));
  return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
  Check(sqlite3_bind_blob64(stmt_.get(), index, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
  return *this;
}

Statement& Statement::BindNull(int index) {
  Check(sqlite3_bind_null(stmt_.get(), index));
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_.get());
  Check(rc);
  return rc == SQLITE_ROW;
}

void Statement::Reset() {
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

std::string Statement::ColumnText(int i) const {
  const auto* text = sqlite3_column_text(stmt_.get(), i);
  const int size = sqlite3_column_bytes(stmt_.get(), i);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size))
              : std::string();
}

std::string Statement::ColumnBlob(int i) const {
  const void* blob = sqlite3_column_blob(stmt_.get(), i);
  const int size = sqlite3_column_bytes(stmt_.get(), i);
  return blob ? std::string(static_cast<const char*>(blob), static_cast<std::size_t>(size))
              : std::string();
}

std::vector<std::string> SplitStatements(const Database& db, std::string_view sql) {
  std::vector<std::string> statements;
  const char* at = sql.data();
  const char* const end = sql.data() + sql.size();
  while (at < end) {
    sqlite3_stmt* raw = nullptr;
    const char* tail = end;
    const int rc = sqlite3_prepare_v2(db.Handle(), at, static_cast<int>(end - at), &raw, &tail);
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
    if (rc != SQLITE_OK) throw Error(rc, sqlite3_errmsg(db.Handle()));
    if (stmt) statements.emplace_back(sqlite3_sql(stmt.get()));
    if (tail == at) break;  // nothing consumed: only blank text was left
    at = tail;
  }
  return statements;
}

Transaction::Transaction(Database& db, bool immediate) : db_(db) {
  db_.Exec(immediate ? "BEGIN IMMEDIATE" : "BEGIN");
}

Transaction::~Transaction() {
  if (open_) sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
  db_.Exec("COMMIT");
  open_ = false;
}

}  // namespace talvex::sqlite
