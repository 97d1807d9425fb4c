// The SQLite backend. A procedure is a text of SQL statements from the catalog with named
// parameters (":Name"); it is prepared once per connection and its statements are kept, so a
// call costs binding and stepping only. Procedures that only read and have one statement run
// in that statement's own implicit transaction; the others run inside BEGIN ... COMMIT, and
// those that write take the write lock at BEGIN (IMMEDIATE), so that a busy database is
// waited for once, at the start, under the busy timeout.
//
// A call that wrote has reached the disk when it returns, unless the procedure's text carries
// the line "-- @durability normal": its writes are then ones a power loss may undo without
// losing mail, and they wait for the next durable commit or checkpoint to reach the disk. The
// connection commits under synchronous NORMAL throughout, which in WAL mode writes the log
// without syncing it, and a durable call that changed anything syncs the log itself after its
// commit. That is the sync FULL would make, one step later: switching the level around each
// such call cost a parse of the PRAGMA every time (SQLite re-prepares it to apply it), and
// SQLite refuses the switch inside a transaction anyway. A commit that changed nothing has
// nothing to sync, as under FULL.
//
// Three SQL functions exist on every connection: ansi_length(text), the octets of the text in
// Windows-1252 as the POP3 wire carries it; fields_digest(...), a 64-bit digest of its
// arguments' texts, by which a listing tells that an item's fields are unchanged; and
// raise_error(text), by which a procedure refuses a call; the refusal becomes a failure with
// ErrorNumber::kDbCommand and that text.
//
// SMS_EvaluateSQL is the exception to the catalog: its parameter is a statement text, which is
// prepared for its call alone.
#include "data/sqlite_backend.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <optional>
#include <vector>

#include "data/data_errors.hpp"
#include "data/sql_catalog.hpp"
#include "data/sqlite_checkpointer.hpp"
#include "data/sqlite_maintenance.hpp"
#include "data/sqlite_setup.hpp"
#include "platform/ansi.hpp"
#include "platform/ascii.hpp"
#include "platform/data_directory.hpp"
#include "platform/sqlite.hpp"

namespace talvex::data {

namespace {

constexpr std::string_view kRelaxedDurability = "-- @durability normal\n";
// A statement under this line guards the one after it, which runs only when the guard finds a
// row. An UPDATE that changes the index it searches, or whose table has triggers, first opens a
// scratch table for the rows it will change, and that costs as much as a small transaction
// even when no row matches; a guard that finds none spares it. The guard's rows are no result.
constexpr std::string_view kGuard = "-- @guard\n";

// Whether `line` (with its line end) is one of the lines of `text`.
bool HasLine(std::string_view text, std::string_view line) {
  for (std::size_t at = text.find(line); at != std::string_view::npos;
       at = text.find(line, at + 1)) {
    if (at == 0 || text[at - 1] == '\n') return true;
  }
  return false;
}

struct CompiledStatement {
  sqlite::Statement statement;
  std::vector<std::size_t> slots;  // per bind index (from 1): index into Procedure::parameters
  bool guard = false;              // the next statement runs only when this one finds a row
};

struct Procedure {
  std::string name;
  std::vector<CompiledStatement> statements;
  std::vector<std::string> parameters;  // names as the SQL writes them, without ":"
  bool readOnly = true;
  bool relaxedDurability = false;     // commits under synchronous NORMAL
  std::optional<std::size_t> result;  // the last statement that yields columns
  Recordset::FieldNames columns;
  // The value of each parameter during a call, kept between calls for its storage only.
  std::vector<const BoundValue*> values;
};

// Resets the statements of a call however it ends, so that none keeps a read open.
class ResetOnExit {
 public:
  explicit ResetOnExit(Procedure& procedure) : procedure_(procedure) {}
  ~ResetOnExit() {
    for (auto& compiled : procedure_.statements) compiled.statement.Reset();
  }
  ResetOnExit(const ResetOnExit&) = delete;
  ResetOnExit& operator=(const ResetOnExit&) = delete;

 private:
  Procedure& procedure_;
};

// Texts are bound without a copy: the values outlive the call, and every statement is reset
// (its bindings cleared) before the call returns.
void Bind(sqlite::Statement& statement, int index, const BoundValue& value) {
  struct Binder {
    sqlite::Statement& statement;
    int index;
    void operator()(std::monostate) const { statement.BindNull(index); }
    void operator()(std::int64_t v) const { statement.Bind(index, v); }
    void operator()(const Currency& v) const {
      statement.Bind(index, static_cast<double>(v.tenThousandths) / 10000.0);
    }
    void operator()(const Timestamp& v) const { statement.BindBorrowed(index, v.text); }
    void operator()(const std::string& v) const { statement.BindBorrowed(index, v); }
  };
  std::visit(Binder{statement, index}, value);
}

Variant ColumnValue(const sqlite::Statement& statement, int column) {
  switch (statement.ColumnType(column)) {
    case SQLITE_INTEGER:
      return Variant(statement.ColumnInt(column));
    case SQLITE_FLOAT:
      return Variant(statement.ColumnDouble(column));
    case SQLITE_TEXT:
      return Variant(statement.ColumnText(column));
    case SQLITE_BLOB:
      return Variant(statement.ColumnBlob(column));
    default:
      return Variant::Null();
  }
}

// The data-access number of an engine failure, by the primary result code.
ErrorNumber EngineFailure(int code) {
  static constexpr std::array<std::pair<int, ErrorNumber>, 10> kNumbers{{
      {SQLITE_CANTOPEN, ErrorNumber::kDbUnavailable},
      {SQLITE_IOERR, ErrorNumber::kDbUnavailable},
      {SQLITE_PERM, ErrorNumber::kDbUnavailable},
      {SQLITE_AUTH, ErrorNumber::kDbUnavailable},
      {SQLITE_READONLY, ErrorNumber::kDbReadOnly},
      {SQLITE_FULL, ErrorNumber::kDbFull},
      {SQLITE_CORRUPT, ErrorNumber::kDbCorrupt},
      {SQLITE_NOTADB, ErrorNumber::kDbCorrupt},
      {SQLITE_BUSY, ErrorNumber::kDbBusy},
      {SQLITE_LOCKED, ErrorNumber::kDbBusy},
  }};
  const int primary = code & 0xff;
  const auto* found = std::find_if(kNumbers.begin(), kNumbers.end(),
                                   [primary](const auto& entry) { return entry.first == primary; });
  return found == kNumbers.end() ? ErrorNumber::kDbProvider : found->second;
}

// The state of the database file as a whole, with one log line for each change: a file that
// turned read-only, full, damaged or unreachable fails every session's calls, and is reported
// once, at the default logging mode, with the engine's words; so is its recovery.
class StorageState {
 public:
  explicit StorageState(std::string file) : file_(std::move(file)) {}

  void SetLog(LogSink log) { log_ = std::move(log); }

  void Failed(ErrorNumber number, std::string_view what) {
    if (!kStorageFaults.contains(number) || fault_ == number) return;
    fault_ = number;
    Write(Severity::kFailure, "The database '" + file_ + "' " +
                                  std::string(kStorageFaults.at(number)) + ": " +
                                  std::string(what));
  }

  void Worked() {
    if (!fault_) return;
    fault_.reset();
    Write(Severity::kNotice, "The database '" + file_ + "' works again");
  }

 private:
  static inline const std::map<ErrorNumber, std::string_view> kStorageFaults{
      {ErrorNumber::kDbUnavailable, "cannot be used"},
      {ErrorNumber::kDbReadOnly, "refuses writes"},
      {ErrorNumber::kDbFull, "has no room"},
      {ErrorNumber::kDbCorrupt, "is damaged"},
  };

  void Write(Severity severity, const std::string& line) const {
    if (log_) log_(severity, kDataAccessSource, line);
  }

  std::string file_;
  LogSink log_;
  std::optional<ErrorNumber> fault_;
};

// A body read in place through its own connection, so that the read it holds open never
// delays the commits of the shared connection, which in autocommit mode would wait for it. A
// handle holds a snapshot of the database, and a snapshot held for long keeps the checkpoints
// from emptying the log: after kSnapshotLimit the next piece opens the value anew. Reopening
// walks the value's pages from its start (13 ms at the 49th MiB), a stall of the event loop that
// every other session feels, so it happens at most once per kSnapshotLimit of a slow client; the
// log meanwhile keeps at most what the other connections commit in that time.
class SqliteBodyReader final : public BodyReader {
 public:
  SqliteBodyReader(std::filesystem::path file, std::int64_t itemId)
      : file_(std::move(file)), itemId_(itemId) {}

  asio::awaitable<bool> ReadNext(std::string& out, std::size_t octets) override {
    co_return Read(out, octets);
  }

 private:
  static constexpr auto kSnapshotLimit = std::chrono::seconds(10);

  bool Read(std::string& out, std::size_t octets) {
    try {
      if (!blob_ || std::chrono::steady_clock::now() - opened_ > kSnapshotLimit) Reopen();
      const std::int64_t left = *size_ - offset_;
      if (left == 0) {
        blob_.reset();
        return false;
      }
      const std::size_t count = std::min(octets, static_cast<std::size_t>(left));
      const std::size_t before = out.size();
      out.resize(before + count);
      blob_->Read(std::span<char>(out).subspan(before), offset_);
      offset_ += static_cast<std::int64_t>(count);
      return true;
    } catch (const sqlite::Error& error) {
      blob_.reset();
      Raise(EngineFailure(error.Code()),
            "the body of item " + std::to_string(itemId_) + ": " + error.what());
    }
  }

  void Reopen() {
    blob_.reset();
    if (!db_) db_.emplace(file_, sqlite::Database::Mode::kReadWrite);
    blob_.emplace(*db_, "GatewayBodies", "Body", itemId_);
    opened_ = std::chrono::steady_clock::now();
    if (!size_) {
      size_ = blob_->Size();
    } else if (blob_->Size() != *size_) {
      throw sqlite::Error(SQLITE_ABORT, "it changed while it was being read");
    }
  }

  std::filesystem::path file_;
  std::int64_t itemId_;
  std::optional<sqlite::Database> db_;
  std::optional<sqlite::Blob> blob_;  // declared after its connection, so closed before it
  std::chrono::steady_clock::time_point opened_;
  std::optional<std::int64_t> size_;
  std::int64_t offset_ = 0;
};

class SqliteBackend final : public Backend {
 public:
  explicit SqliteBackend(std::filesystem::path file)
      : file_(std::move(file)), storage_(file_.string()) {
    if (const auto problem = CreateDataDirectory(file_)) Raise(ErrorNumber::kDbProvider, *problem);
  }

  SqliteBackend(const SqliteBackend&) = delete;
  SqliteBackend& operator=(const SqliteBackend&) = delete;
  ~SqliteBackend() override = default;

  Recordset Run(std::string_view name, std::span<const BoundParameter> parameters,
                bool rows) override {
    raised_.reset();
    try {
      if (!db_) Open();
      Recordset result = name == kEvaluateSql ? EvaluateSql(parameters, rows)
                                              : Execute(Prepared(name), parameters, rows);
      storage_.Worked();
      return result;
    } catch (const sqlite::Error& error) {
      if (raised_) Raise(ErrorNumber::kDbCommand, std::string(name) + ": " + *raised_);
      const ErrorNumber number = EngineFailure(error.Code());
      storage_.Failed(number, error.what());
      Raise(number, std::string(name) + ": " + error.what());
    }
  }

  void SetEventLog(const LogSink& log) override { storage_.SetLog(log); }

  std::unique_ptr<BodyReader> OpenBody(std::int64_t itemId) override {
    return std::make_unique<SqliteBodyReader>(file_, itemId);
  }

 private:
  // Opens the connection, or leaves none when any step fails, so that the next call tries
  // again.
  void Open() {
    if (const auto journal = OrphanedJournal(file_)) {
      throw sqlite::Error(SQLITE_CANTOPEN,
                          "database '" + file_.string() + "' is missing while '" +
                              journal->string() +
                              "' of it remains: it was deleted while in use. Restore it, or "
                              "start a new one with talvex-admin --create");
    }
    sqlite::Database db(file_, sqlite::Database::Mode::kReadWriteCreate);
    try {
      ConfigureConnection(db, RaiseError, this);
      MigrateSchema(db);
    } catch (const sqlite::Error& error) {
      throw sqlite::Error(error.Code(), "database '" + file_.string() + "': " + error.what());
    }
    db.Run(sqlite::Database::Control::kSynchronousNormal);  // durable calls sync the log
    if (!checkpointer_) checkpointer_.emplace(file_);
    checkpointer_->Serve(db.Handle());
    db_.emplace(std::move(db));
  }

  static void RaiseError(sqlite3_context* context, int, sqlite3_value** argv) {
    auto* self = static_cast<SqliteBackend*>(sqlite3_user_data(context));
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    self->raised_ = text ? text : "the procedure refused the call";
    sqlite3_result_error(context, self->raised_->c_str(), -1);
  }

  Procedure& Prepared(std::string_view name) {
    if (const auto found = procedures_.find(name); found != procedures_.end()) {
      return found->second;
    }
    const auto sql = SqlCatalog::Sqlite().Procedure(name);
    if (!sql)
      Raise(ErrorNumber::kDbCommand, "Could not find stored procedure '" + std::string(name) + "'");
    Procedure procedure = Compile(name, *sql);
    return procedures_.emplace(procedure.name, std::move(procedure)).first->second;
  }

  // SMS_EvaluateSQL: the statement text itself is the one parameter. It is prepared for this
  // call only, as any text may come, and runs with no parameters of its own. Only programs of
  // the administrator call it; no network command leads here.
  Recordset EvaluateSql(std::span<const BoundParameter> parameters, bool rows) {
    Procedure adHoc = Compile(kEvaluateSql, EvaluatedStatement(parameters));
    // Any statement may come, and the count of changed rows misses some (a new table, say):
    // whatever wrote is synced.
    Recordset result = Execute(adHoc, {}, rows);
    if (!adHoc.readOnly) SyncLog();
    return result;
  }

  Procedure Compile(std::string_view name, std::string_view sql) {
    Procedure procedure{std::string(name), {}, {}, true, false, std::nullopt, nullptr, {}};
    procedure.relaxedDurability = HasLine(sql, kRelaxedDurability);
    for (const std::string& text : sqlite::SplitStatements(*db_, sql)) {
      CompiledStatement compiled{sqlite::Statement(*db_, text), {}, HasLine(text, kGuard)};
      sqlite3_stmt* handle = compiled.statement.Handle();
      for (int i = 1; i <= sqlite3_bind_parameter_count(handle); ++i) {
        const char* parameter = sqlite3_bind_parameter_name(handle, i);
        if (!parameter)
          Raise(ErrorNumber::kDbCommand, procedure.name + " uses an unnamed parameter");
        compiled.slots.push_back(SlotOf(procedure.parameters, parameter + 1));
      }
      procedure.readOnly = procedure.readOnly && sqlite3_stmt_readonly(handle) != 0;
      if (compiled.statement.ColumnCount() > 0 && !compiled.guard) {
        procedure.result = procedure.statements.size();
      }
      procedure.statements.push_back(std::move(compiled));
    }
    if (!procedure.statements.empty() && procedure.statements.back().guard) {
      Raise(ErrorNumber::kDbCommand, procedure.name + " ends with a guard, which guards nothing");
    }
    if (procedure.result) {
      const auto& statement = procedure.statements[*procedure.result].statement;
      std::vector<std::string> columns;
      columns.reserve(static_cast<std::size_t>(statement.ColumnCount()));
      for (int i = 0; i < statement.ColumnCount(); ++i)
        columns.emplace_back(statement.ColumnName(i));
      procedure.columns = std::make_shared<const std::vector<std::string>>(std::move(columns));
    }
    return procedure;
  }

  static std::size_t SlotOf(std::vector<std::string>& parameters, std::string_view name) {
    for (std::size_t i = 0; i < parameters.size(); ++i) {
      if (EqualsIgnoreCase(parameters[i], name)) return i;
    }
    parameters.emplace_back(name);
    return parameters.size() - 1;
  }

  // The value of each of the procedure's parameters: every one must be given, once, and no
  // other.
  static const std::vector<const BoundValue*>& Match(Procedure& procedure,
                                                     std::span<const BoundParameter> given) {
    auto& values = procedure.values;
    values.assign(procedure.parameters.size(), nullptr);
    for (const BoundParameter& parameter : given) {
      std::size_t i = 0;
      while (i < values.size() && !EqualsIgnoreCase(procedure.parameters[i], parameter.name)) ++i;
      if (i == values.size() || values[i]) {
        Raise(ErrorNumber::kDbCommand, procedure.name + " has no parameter '" +
                                           std::string(parameter.name) + "' or it is given twice");
      }
      values[i] = &parameter.value;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!values[i]) {
        Raise(ErrorNumber::kDbCommand, procedure.name + " expects parameter '" +
                                           procedure.parameters[i] + "', which was not supplied");
      }
    }
    return values;
  }

  Recordset Execute(Procedure& procedure, std::span<const BoundParameter> parameters, bool rows) {
    const auto& values = Match(procedure, parameters);
    const bool durable = !procedure.readOnly && !procedure.relaxedDurability;
    const sqlite3_int64 changedBefore = durable ? sqlite3_total_changes64(db_->Handle()) : 0;
    std::optional<sqlite::Transaction> transaction;
    if (!procedure.readOnly || procedure.statements.size() > 1) {
      transaction.emplace(*db_, !procedure.readOnly);
    }
    const ResetOnExit reset(procedure);
    Recordset result;
    for (std::size_t i = 0; i < procedure.statements.size(); ++i) {
      auto& [statement, slots, guard] = procedure.statements[i];
      for (std::size_t k = 0; k < slots.size(); ++k) {
        Bind(statement, static_cast<int>(k + 1), *values[slots[k]]);
      }
      if (guard) {
        if (!statement.Step()) ++i;  // the guarded statement has nothing to do
      } else if (rows && procedure.result == i) {
        result = Collect(statement, procedure.columns);
      } else {
        while (statement.Step()) {
        }
      }
    }
    if (transaction) transaction->Commit();
    if (durable && sqlite3_total_changes64(db_->Handle()) != changedBefore) SyncLog();
    // No result statement, or a guarded one that was skipped: no rows, with its columns if any.
    if (rows && !result.IsOpen()) {
      result = Recordset(procedure.columns ? procedure.columns
                                           : std::make_shared<const std::vector<std::string>>(),
                         {});
    }
    return result;
  }

  // Syncs the write-ahead log, where every commit of the connection has gone, to the disk. A
  // failure leaves the commit in place but perhaps not on the disk: the call fails, as it would
  // have under FULL, and the storage state reports the disk.
  void SyncLog() {
    sqlite3_file* log = nullptr;
    const int found =
        sqlite3_file_control(db_->Handle(), "main", SQLITE_FCNTL_JOURNAL_POINTER, &log);
    if (found != SQLITE_OK || log == nullptr || log->pMethods == nullptr) {
      throw sqlite::Error(found == SQLITE_OK ? SQLITE_IOERR : found,
                          "the write-ahead log is not open to be synced");
    }
    if (const int synced = log->pMethods->xSync(log, SQLITE_SYNC_NORMAL); synced != SQLITE_OK) {
      throw sqlite::Error(synced, "the write-ahead log did not reach the disk");
    }
  }

  static Recordset Collect(sqlite::Statement& statement, const Recordset::FieldNames& names) {
    const int columns = static_cast<int>(names->size());
    std::vector<Variant> cells;
    // Most results are one row: room for it at once rather than by doubling from one cell.
    cells.reserve(names->size());
    while (statement.Step()) {
      for (int c = 0; c < columns; ++c) cells.push_back(ColumnValue(statement, c));
    }
    return Recordset(names, std::move(cells));
  }

  std::filesystem::path file_;
  StorageState storage_;
  // Declared before the connection whose log hook refers to it, so that it outlives it.
  std::optional<SqliteCheckpointer> checkpointer_;
  // Declared before the statements that refer to it, so that it is closed after them.
  std::optional<sqlite::Database> db_;
  std::map<std::string, Procedure, std::less<>> procedures_;
  std::optional<std::string> raised_;  // what raise_error said during the current call
};

}  // namespace

std::unique_ptr<Backend> MakeSqliteBackend(const std::filesystem::path& file) {
  return std::make_unique<SqliteBackend>(file);
}

}  // namespace talvex::data
