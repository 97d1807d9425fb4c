// RAII wrappers of SQLite connections, statements and transactions.
#include "platform/sqlite.hpp"

#include "platform/data_directory.hpp"

namespace talvex::sqlite {

namespace {

// Settings of the library as a whole, which it takes only before its first connection. By
// default it counts every allocation under a process-wide mutex for statistics that nothing
// here reads; a statement's run allocates many times.
void ConfigureLibrary() {
  static const int kConfigured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  static_cast<void>(kConfigured);  // a library set up before (by a test, say) keeps its settings
}

}  // namespace

Database::Database(const std::filesystem::path& path, Mode mode, int busyTimeoutMs) {
  ConfigureLibrary();
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

void Database::Run(Control control) {
  static constexpr std::array<std::string_view, kControls> kTexts = {
      "BEGIN", "BEGIN IMMEDIATE", "COMMIT", "ROLLBACK", "PRAGMA synchronous = NORMAL"};
  const auto index = static_cast<std::size_t>(control);
  auto& slot = controls_.at(index);
  if (!slot) {
    const std::string_view text = kTexts.at(index);
    sqlite3_stmt* raw = nullptr;
    const int rc =
        sqlite3_prepare_v2(db_.get(), text.data(), static_cast<int>(text.size()), &raw, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(raw);
      throw Error(rc, sqlite3_errmsg(db_.get()));
    }
    slot.reset(raw);
  }
  const int rc = sqlite3_step(slot.get());
  // Read before the reset, which leaves the statement ready for the next transaction.
  const std::string message = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(db_.get());
  sqlite3_reset(slot.get());
  if (rc != SQLITE_DONE) throw Error(rc, message);
}

Blob::Blob(const Database& db, const char* table, const char* column, std::int64_t rowid)
    : db_(db.Handle()) {
  sqlite3_blob* raw = nullptr;
  const int rc = sqlite3_blob_open(db_, "main", table, column, rowid, 0, &raw);
  blob_.reset(raw);
  if (rc != SQLITE_OK) throw Error(rc, sqlite3_errmsg(db_));
}

void Blob::Read(std::span<char> bytes, std::int64_t offset) const {
  const int rc = sqlite3_blob_read(blob_.get(), bytes.data(), static_cast<int>(bytes.size()),
                                   static_cast<int>(offset));
  if (rc != SQLITE_OK) throw Error(rc, sqlite3_errmsg(db_));
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

Statement& Statement::BindBorrowed(int index, std::string_view text) {
  Check(sqlite3_bind_text64(stmt_.get(), index, text.data(), text.size(), SQLITE_STATIC,
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
  db_.Run(immediate ? Database::Control::kBeginImmediate : Database::Control::kBegin);
}

Transaction::~Transaction() {
  if (!open_) return;
  try {
    db_.Run(Database::Control::kRollback);
  } catch (const std::exception&) {
    // A destructor must not raise; a ROLLBACK that fails finds the transaction already
    // rolled back by SQLite itself (after an I/O or disk-full error) or leaves it to close.
  }
}

void Transaction::Commit() {
  db_.Run(Database::Control::kCommit);
  open_ = false;
}

Backup::Backup(Database& target, Database& source) : target_(target.Handle()) {
  backup_.reset(sqlite3_backup_init(target.Handle(), "main", source.Handle(), "main"));
  if (!backup_) throw Error(sqlite3_errcode(target_), sqlite3_errmsg(target_));
}

bool Backup::Step(int pages) {
  const int rc = sqlite3_backup_step(backup_.get(), pages);
  if (rc == SQLITE_DONE) return false;
  if (rc == SQLITE_OK) return true;
  throw Error(rc, sqlite3_errstr(rc));
}

}  // namespace talvex::sqlite
