// A thin RAII layer over the SQLite C API: one Database owns one connection, one Statement
// owns one prepared statement. Errors throw sqlite::Error with the engine's code and text.
#pragma once

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace talvex::sqlite {

class Error : public std::runtime_error {
 public:
  Error(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

class Database {
 public:
  enum class Mode { kReadOnly, kReadWrite, kReadWriteCreate };

  // Opens the file; with ReadWriteCreate the parent directory is created too. Sets a busy
  // timeout so that concurrent writers of other processes wait instead of failing.
  Database(const std::filesystem::path& path, Mode mode, int busyTimeoutMs = 5000);

  void Exec(std::string_view sql);
  sqlite3* Handle() const { return db_.get(); }
  int Changes() const { return sqlite3_changes(db_.get()); }

  // Runs one of the statements that open and end transactions or set how far their commits
  // wait for the disk. Each is prepared at its first use and kept with the connection: every
  // write runs two or three of them, and parsing them anew was a measurable part of a short
  // write.
  enum class Control { kBegin, kBeginImmediate, kCommit, kRollback, kSynchronousNormal };
  void Run(Control control);

 private:
  struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  struct ControlFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
  };
  static constexpr std::size_t kControls = 5;
  std::unique_ptr<sqlite3, Closer> db_;
  // Declared after the connection, so that they are finalized before it closes.
  std::array<std::unique_ptr<sqlite3_stmt, ControlFinalizer>, kControls> controls_;
};

class Statement {
 public:
  Statement(const Database& db, std::string_view sql);

  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, double value);
  Statement& Bind(int index, std::string_view text);
  // Binds the text without a copy: it must stay as it is until the statement is reset.
  Statement& BindBorrowed(int index, std::string_view text);
  Statement& BindBlob(int index, std::string_view bytes);
  Statement& BindNull(int index);

  // Runs to the next row; false when the statement is done.
  bool Step();
  void Reset();

  int ColumnCount() const { return sqlite3_column_count(stmt_.get()); }
  const char* ColumnName(int i) const { return sqlite3_column_name(stmt_.get(), i); }
  int ColumnType(int i) const { return sqlite3_column_type(stmt_.get(), i); }
  std::int64_t ColumnInt(int i) const { return sqlite3_column_int64(stmt_.get(), i); }
  double ColumnDouble(int i) const { return sqlite3_column_double(stmt_.get(), i); }
  std::string ColumnText(int i) const;
  std::string ColumnBlob(int i) const;
  sqlite3_stmt* Handle() const { return stmt_.get(); }

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
  };
  void Check(int rc) const;
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
};

// The statements of a text of several, each as its own text, in order; comments and blank
// text between them are dropped. Each statement is checked against the connection's schema.
std::vector<std::string> SplitStatements(const Database& db, std::string_view sql);

// A value opened for reading in place (incremental blob I/O): a range of it is read without the
// engine loading the whole value, which a column read of a large text does. The handle holds a
// read transaction on its connection for as long as it is open.
class Blob {
 public:
  // Opens the column's value in the row `rowid` of `table` for reading.
  Blob(const Database& db, const char* table, const char* column, std::int64_t rowid);

  std::int64_t Size() const { return sqlite3_blob_bytes(blob_.get()); }
  // Reads `bytes.size()` octets from `offset` into `bytes`.
  void Read(std::span<char> bytes, std::int64_t offset) const;

 private:
  struct Closer {
    void operator()(sqlite3_blob* blob) const { sqlite3_blob_close(blob); }
  };
  sqlite3* db_;
  std::unique_ptr<sqlite3_blob, Closer> blob_;
};

// A transaction that rolls back unless committed.
class Transaction {
 public:
  explicit Transaction(Database& db, bool immediate = true);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void Commit();

 private:
  Database& db_;
  bool open_ = true;
};

// An online copy of one database into another, some pages at a time. The copy is of the
// source as its connection sees it: when that connection holds a read transaction from before
// the first step to after the last, the copy is one consistent state of the source, and the
// writers of other connections go on meanwhile (in WAL mode readers do not block writers)
// without making the copy start again.
class Backup {
 public:
  Backup(Database& target, Database& source);
  Backup(const Backup&) = delete;
  Backup& operator=(const Backup&) = delete;

  // Copies up to `pages` more pages; false once the copy is complete. A source or target that
  // is busy for the moment raises sqlite::Error with SQLITE_BUSY or SQLITE_LOCKED, after which
  // the step may be tried again.
  bool Step(int pages);
  int Remaining() const { return sqlite3_backup_remaining(backup_.get()); }
  int PageCount() const { return sqlite3_backup_pagecount(backup_.get()); }

 private:
  struct Finisher {
    void operator()(sqlite3_backup* backup) const { sqlite3_backup_finish(backup); }
  };
  sqlite3* target_;
  std::unique_ptr<sqlite3_backup, Finisher> backup_;
};

}  // namespace talvex::sqlite
