// The PostgreSQL backend. Each procedure of the catalog is installed as a function whose
// parameters are named "@Name" after the callers' names and whose rows carry the same field
// names as on SQLite. When the first connection opens, one query reads every function's
// parameter names from the system catalog; a call then matches the given parameters to them by
// name, as the SQLite backend does, and runs SELECT over the function with the values as text
// parameters, which the server converts to the declared types.
//
// A procedure's own refusal (RAISE EXCEPTION, SQLSTATE P0001) becomes a failure with
// ErrorNumber::kDbCommand and its message; every other failure is the provider's. A lost
// connection is dropped, so that the next call opens a new one.
//
// The server's sessions await their calls: a small pool of connections in non-blocking mode,
// whose sockets the event loop watches, so that a slow query holds up only the session that
// made it. The administrator's programs call without a loop, on one connection of their own.
#include "data/postgresql_backend.hpp"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "data/connection_pool.hpp"
#include "data/data_errors.hpp"
#include "data/postgresql_connection.hpp"
#include "data/postgresql_setup.hpp"
#include "data/sql_catalog.hpp"
#include "platform/ascii.hpp"

namespace talvex::data {

namespace {

// Every function of the connection's schema: whether it returns rows, and the names of its
// input parameters in order, joined by commas.
constexpr std::string_view kSignaturesQuery =
    "SELECT p.proname::text, (p.prorettype <> 'void'::regtype)::text, "
    "       coalesce(array_to_string(p.proargnames[1:p.pronargs], ','), '') "
    "  FROM pg_proc AS p "
    " WHERE p.pronamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema())";

// How a call of an installed function is written, and its parameters as the callers name them.
struct Signature {
  std::string call;
  std::vector<std::string> parameters;
  bool returnsRows = false;
};
using Signatures = std::map<std::string, Signature, std::less<>>;

// Column types whose values come back as numbers, by type OID; every other type comes back as
// text. Booleans become 0 and 1, as the embedded database has no Boolean.
enum class Kind { kInteger, kReal, kBoolean, kText };
struct TypeKind {
  Oid type;
  Kind kind;
};
constexpr TypeKind kTypeKinds[] = {
    {16, Kind::kBoolean},  // bool
    {20, Kind::kInteger},  // int8
    {21, Kind::kInteger},  // int2
    {23, Kind::kInteger},  // int4
    {26, Kind::kInteger},  // oid
    {700, Kind::kReal},    // float4
    {701, Kind::kReal},    // float8
    {1700, Kind::kReal},   // numeric
};

Kind KindOf(Oid type) {
  for (const TypeKind& known : kTypeKinds) {
    if (known.type == type) return known.kind;
  }
  return Kind::kText;
}

Variant CellValue(std::string_view text, Kind kind) {
  switch (kind) {
    case Kind::kInteger: {
      std::int64_t value = 0;
      std::from_chars(text.data(), text.data() + text.size(), value);
      return Variant(value);
    }
    case Kind::kReal:
      return Variant(std::stod(std::string(text)));
    case Kind::kBoolean:
      return Variant(std::int64_t{text == "t" ? 1 : 0});
    case Kind::kText:
      break;
  }
  return Variant(std::string(text));
}

std::string CurrencyText(Currency value) {
  const bool negative = value.tenThousandths < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value.tenThousandths)
                                           : static_cast<std::uint64_t>(value.tenThousandths);
  std::string fraction = std::to_string(magnitude % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  std::string text = negative ? "-" : "";
  text.append(std::to_string(magnitude / 10000)).append(".").append(fraction);
  return text;
}

pg::Parameter ParameterText(const BoundValue& value) {
  struct Texts {
    pg::Parameter operator()(std::monostate) const { return std::nullopt; }
    pg::Parameter operator()(std::int64_t v) const { return std::to_string(v); }
    pg::Parameter operator()(const Currency& v) const { return CurrencyText(v); }
    pg::Parameter operator()(const Timestamp& v) const { return v.text; }
    pg::Parameter operator()(const std::string& v) const { return v; }
  };
  return std::visit(Texts{}, value);
}

bool SameColumns(const pg::Result& result, const std::vector<std::string>& names) {
  if (static_cast<std::size_t>(result.Columns()) != names.size()) return false;
  for (int c = 0; c < result.Columns(); ++c) {
    if (result.ColumnName(c) != names[static_cast<std::size_t>(c)]) return false;
  }
  return true;
}

// The result's field list: `known`, the list of the procedure's last result, when the names are
// the same (they almost always are), so that the record sets of one procedure share one list
// as the embedded engine's do; else a new list, which becomes the known one.
const Recordset::FieldNames& ColumnsOf(const pg::Result& result, Recordset::FieldNames& known) {
  if (known && SameColumns(result, *known)) return known;
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(result.Columns()));
  for (int c = 0; c < result.Columns(); ++c) names.emplace_back(result.ColumnName(c));
  known = std::make_shared<const std::vector<std::string>>(std::move(names));
  return known;
}

Recordset Rows(const pg::Result& result, Recordset::FieldNames& known) {
  const Recordset::FieldNames& names = ColumnsOf(result, known);
  std::vector<Kind> kinds;
  kinds.reserve(names->size());
  for (int c = 0; c < result.Columns(); ++c) kinds.push_back(KindOf(result.ColumnType(c)));
  std::vector<Variant> cells;
  cells.reserve(static_cast<std::size_t>(result.Rows()) * names->size());
  for (int r = 0; r < result.Rows(); ++r) {
    for (int c = 0; c < result.Columns(); ++c) {
      cells.push_back(result.IsNull(r, c)
                          ? Variant::Null()
                          : CellValue(result.Value(r, c), kinds[static_cast<std::size_t>(c)]));
    }
  }
  return Recordset(names, std::move(cells));
}

std::string QuotedIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (const char c : name) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

Signature MakeSignature(std::string_view name, bool returnsRows, std::string_view argumentNames) {
  Signature signature{returnsRows ? "SELECT * FROM " : "SELECT ", {}, returnsRows};
  signature.call.append(QuotedIdentifier(name)).append("(");
  for (std::size_t at = 0; !argumentNames.empty() && at <= argumentNames.size();) {
    const std::size_t end = std::min(argumentNames.find(',', at), argumentNames.size());
    std::string_view parameter = argumentNames.substr(at, end - at);
    if (parameter.starts_with('@')) parameter.remove_prefix(1);
    signature.parameters.emplace_back(parameter);
    if (signature.parameters.size() > 1) signature.call.append(", ");
    signature.call.append("$").append(std::to_string(signature.parameters.size()));
    at = end + 1;
  }
  signature.call.append(")");
  return signature;
}

// How long a call that cannot open a connection for want of descriptors waits for another
// call's connection: well within a client's patience, far beyond one procedure call.
constexpr std::chrono::milliseconds kConnectionWait{1000};

// Whether the process has run out of descriptors, or the system out of open files: a failure to
// open a connection then says nothing about the database.
bool OutOfDescriptors() {
  const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (probe < 0) return errno == EMFILE || errno == ENFILE;
  ::close(probe);
  return false;
}

// A pooled connection. A struct of its own so that the pool can hold it by pointer.
struct Link {
  explicit Link(pg::Connection opened) : connection(std::move(opened)) {}
  pg::Connection connection;
};

// What one call sends: a statement with its parameters, or the administrator's script.
struct Statement {
  std::string sql;
  std::vector<pg::Parameter> values;
  bool script = false;
  bool returnsRows = true;
};

// A failure after which the connection cannot serve another call: one that libpq reports
// rather than the server, a closed connection, or the server's "connection exception" (08) and
// "operator intervention" (57P: shutdown, termination) classes.
bool Broken(const pg::Error& error, const pg::Connection& connection) {
  const std::string& state = error.SqlState();
  return state.empty() || !connection.IsOpen() || state.starts_with("08") ||
         state.starts_with("57P");
}

// The data-access number of a failure, by its SQLSTATE's longest listed prefix; libpq's own
// failures (no SQLSTATE) are a connection that is gone.
ErrorNumber EngineFailure(const std::string& state) {
  static constexpr std::array<std::pair<std::string_view, ErrorNumber>, 11> kNumbers{{
      {pg::kRaiseException, ErrorNumber::kDbCommand},
      {"53100", ErrorNumber::kDbFull},       // disk full
      {"25006", ErrorNumber::kDbReadOnly},   // read-only transaction
      {"XX001", ErrorNumber::kDbCorrupt},    // data corrupted
      {"XX002", ErrorNumber::kDbCorrupt},    // index corrupted
      {"40", ErrorNumber::kDbBusy},          // serialization failure, deadlock
      {"55P03", ErrorNumber::kDbBusy},       // lock not available
      {"08", ErrorNumber::kDbUnavailable},   // connection exception
      {"57P", ErrorNumber::kDbUnavailable},  // shutdown, termination
      {"53", ErrorNumber::kDbUnavailable},   // out of memory or connections
      {"28", ErrorNumber::kDbUnavailable},   // authorization
  }};
  if (state.empty()) return ErrorNumber::kDbUnavailable;
  for (const auto& [prefix, number] : kNumbers) {
    if (state.starts_with(prefix)) return number;
  }
  return ErrorNumber::kDbProvider;
}

[[noreturn]] void Fail(std::string_view name, const pg::Error& error) {
  Raise(EngineFailure(error.SqlState()), std::string(name) + ": " + error.what());
}

Recordset Shape(const Statement& statement, const pg::Result& result, bool rows,
                Recordset::FieldNames& known) {
  if (!rows) return {};
  if (!statement.returnsRows) {
    return Recordset(std::make_shared<const std::vector<std::string>>(), {});
  }
  return Rows(result, known);
}

// Waits until libpq's socket is ready. The watch lets go of the descriptor rather than closing
// it: libpq owns it, and a new one is made for each wait because the socket can change when a
// connection is opened.
asio::awaitable<void> WaitFor(int socket, asio::posix::descriptor_base::wait_type what) {
  const asio::any_io_executor executor = co_await asio::this_coro::executor;
  asio::posix::stream_descriptor watch(executor, socket);
  struct Release {
    asio::posix::stream_descriptor& watch;
    ~Release() { watch.release(); }
  } const release{watch};
  try {
    co_await watch.async_wait(what, asio::use_awaitable);
  } catch (const std::system_error& error) {
    // Failures of this backend are libpq's kind, so that the call fails as any lost one does.
    throw pg::Error("", std::string("cannot wait for the server: ") + error.what());
  }
}

constexpr auto kReadable = asio::posix::descriptor_base::wait_read;
constexpr auto kWritable = asio::posix::descriptor_base::wait_write;

asio::awaitable<pg::Result> ExecuteOnLoop(pg::Connection& connection, const Statement& statement) {
  if (statement.script) {
    connection.SendScript(statement.sql);
  } else {
    connection.Send(statement.sql, statement.values);
  }
  while (connection.Flush()) co_await WaitFor(connection.Socket(), kWritable);
  pg::Answer answer;
  for (;;) {
    while (connection.IsBusy()) {
      co_await WaitFor(connection.Socket(), kReadable);
      connection.ConsumeInput();
    }
    std::optional<pg::Result> result = connection.NextResult();
    if (!result) break;
    answer.Add(std::move(*result));
  }
  co_return answer.Finish();
}

// Whether the database answered at the last attempt, with one log line for each change: an
// outage that fails many calls at once is reported once, and so is its end.
class Reachability {
 public:
  void SetLog(LogSink log) { log_ = std::move(log); }

  void Lost(std::string_view why) {
    if (!reachable_) return;
    reachable_ = false;
    // libpq's account of a lost connection runs over several lines; the first says it.
    Write(Severity::kFailure,
          "Lost the PostgreSQL database: " + std::string(why.substr(0, why.find('\n'))));
  }

  void Reached() {
    if (reachable_) return;
    reachable_ = true;
    Write(Severity::kNotice, "The PostgreSQL database answers again");
  }

 private:
  void Write(Severity severity, const std::string& line) const {
    if (log_) log_(severity, kDataAccessSource, line);
  }

  LogSink log_;
  bool reachable_ = true;
};

class PostgresqlBackend final : public Backend {
  using Pool = ConnectionPool<Link>;

 public:
  PostgresqlBackend(std::string uri, std::size_t connections)
      : uri_(std::move(uri)), pool_(connections) {}

  // The administrator's programs call here, one call at a time, on a connection of their own.
  Recordset Run(std::string_view name, std::span<const BoundParameter> parameters,
                bool rows) override {
    try {
      if (!direct_ || !direct_->connection.IsOpen()) {
        direct_.reset();
        direct_ = OpenDirect();
      }
      const Statement statement = StatementOf(name, parameters);
      const pg::Result result = statement.script
                                    ? direct_->connection.ExecuteScript(statement.sql)
                                    : direct_->connection.Execute(statement.sql, statement.values);
      reachability_.Reached();
      return Shape(statement, result, rows, KnownColumns(name));
    } catch (const pg::Error& error) {
      if (!direct_ || Broken(error, direct_->connection)) Lost(error);
      Fail(name, error);
    }
  }

  // The sessions call here: a pooled connection, the socket watched by the event loop.
  asio::awaitable<Recordset> RunAsync(std::string name, std::vector<BoundParameter> parameters,
                                      bool rows) override {
    std::optional<Pool::Lease> lease;
    try {
      auto connected = co_await Connected();
      lease.emplace(std::move(connected));
      const Statement statement = StatementOf(name, parameters);
      const pg::Result result = co_await ExecuteOnLoop(lease->Held()->connection, statement);
      reachability_.Reached();
      co_return Shape(statement, result, rows, KnownColumns(name));
    } catch (const pg::Error& error) {
      if (!lease || Broken(error, lease->Held()->connection)) {
        if (lease) lease->Held().reset();
        Lost(error);
      }
      Fail(name, error);
    }
  }

  void SetEventLog(const LogSink& log) override { reachability_.SetLog(log); }

 private:
  // A failure to open names the engine; the text of the URI is never repeated: it may hold a
  // password.
  static pg::Error Labelled(const pg::Error& error) {
    return {error.SqlState(), std::string("PostgreSQL: ") + error.what()};
  }

  // A slot with an open connection: the one it holds, or a new one, or, when the process has
  // no descriptor left to open one, the first that another call brings back soon. A connection
  // that the server closed while it was idle is replaced before it is used, so that a restart
  // fails only the calls that were in flight.
  asio::awaitable<Pool::Lease> Connected() {
    auto lease = co_await pool_.Acquire();
    std::unique_ptr<Link>& link = lease.Held();
    if (link) {
      link->connection.Refresh();
      if (!link->connection.IsOpen()) link.reset();
    }
    std::optional<pg::Error> failure;
    try {
      if (!link) link = co_await OpenOnLoop();
    } catch (const pg::Error& error) {
      if (!OutOfDescriptors()) throw;
      failure = error;
    }
    if (failure) {
      auto handed = co_await pool_.AwaitConnection(std::move(lease), kConnectionWait);
      if (!handed) throw *failure;
      co_return std::move(*handed);
    }
    // cppcheck-suppress accessMoved ; cppcheck takes the co_return above for a fall-through
    co_return std::move(lease);
  }

  std::unique_ptr<Link> OpenDirect() {
    try {
      auto link = std::make_unique<Link>(pg::Connection(uri_));
      CheckEncoding(link->connection);
      link->connection.ExecuteScript(SessionSettingsSql());
      PrepareSchemaOnce(link->connection);
      return link;
    } catch (const pg::Error& error) {
      throw Labelled(error);
    }
  }

  // The schema is the database's, the same for every connection: it is brought to this
  // program's version, and its functions' signatures read, by the first connection that opens
  // after the start or after a lost connection (the database may have been replaced), so that
  // the connections opened meanwhile need only their session settings.
  void PrepareSchemaOnce(pg::Connection& connection) {
    if (schemaReady_) return;
    signatures_ = PreparedSignatures(connection);
    schemaReady_ = true;
  }

  // The loop's form: the setup's statements wait for the server on a thread of their own, on
  // the connection being opened, which nothing else uses yet; calls that open connections
  // meanwhile wait for that one setup rather than run their own.
  asio::awaitable<void> PrepareSchemaOffLoop(pg::Connection& connection) {
    while (!schemaReady_) {
      if (setupRunning_) {
        asio::error_code woken;  // cancelled when the running setup ends, however it ends
        co_await setupDone_->async_wait(asio::redirect_error(asio::use_awaitable, woken));
        continue;
      }
      setupRunning_ = true;
      setupDone_.emplace(co_await asio::this_coro::executor, asio::steady_timer::time_point::max());
      try {
        signatures_ = co_await PreparedOffLoop(connection);
        schemaReady_ = true;
      } catch (...) {
        EndSetup();  // the calls waiting for it try again, each on its own connection
        throw;
      }
      EndSetup();
    }
  }

  // The timer lives only while a setup runs: destroying it wakes the waiters, and a backend
  // that outlives its loop holds nothing of the loop's.
  void EndSetup() {
    setupRunning_ = false;
    setupDone_.reset();
  }

  // The setup's statements run on a thread of their own, which tells its end through an
  // eventfd that the loop reads: nothing but the loop's own thread ever touches the loop, which
  // runs without locks. The thread is joined before the call returns, however it returns.
  static asio::awaitable<Signatures> PreparedOffLoop(pg::Connection& connection) {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) throw pg::Error("", "cannot make an eventfd for the setup");
    asio::posix::stream_descriptor done(co_await asio::this_coro::executor, fd);
    std::optional<Signatures> signatures;
    std::exception_ptr failure;
    {
      const std::jthread setup([&] {
        try {
          signatures = PreparedSignatures(connection);
        } catch (...) {
          failure = std::current_exception();
        }
        const std::uint64_t one = 1;
        // An eventfd's counter cannot overflow from one write, so the write cannot fail.
        [[maybe_unused]] const auto written = ::write(fd, &one, sizeof one);
      });
      std::uint64_t count = 0;
      // A read, unlike a wait, first tries at once, so an end that came before it is not missed.
      co_await done.async_read_some(asio::buffer(&count, sizeof count), asio::use_awaitable);
    }
    if (failure) std::rethrow_exception(failure);
    co_return *std::move(signatures);
  }

  static Signatures PreparedSignatures(pg::Connection& connection) {
    PrepareSchema(connection);
    Signatures signatures;
    const pg::Result functions = connection.Execute(kSignaturesQuery);
    for (int r = 0; r < functions.Rows(); ++r) {
      const std::string_view name = functions.Value(r, 0);
      signatures.emplace(std::string(name), MakeSignature(name, functions.Value(r, 1) == "true",
                                                          functions.Value(r, 2)));
    }
    return signatures;
  }

  void Lost(const pg::Error& error) {
    schemaReady_ = false;
    reachability_.Lost(error.what());
  }

  asio::awaitable<std::unique_ptr<Link>> OpenOnLoop() {
    try {
      pg::Connection connection = pg::Connection::Start(uri_);
      PostgresPollingStatusType state = PGRES_POLLING_WRITING;
      while (state != PGRES_POLLING_OK) {
        co_await WaitFor(connection.Socket(),
                         state == PGRES_POLLING_READING ? kReadable : kWritable);
        state = connection.PollConnect();
      }
      CheckEncoding(connection);
      co_await PrepareSchemaOffLoop(connection);
      auto link = std::make_unique<Link>(std::move(connection));
      link->connection.SetNonBlocking();
      // A named statement: GCC 12 destroys a braced temporary in a co_await expression twice.
      const Statement settings{SessionSettingsSql(), {}, true, true};
      co_await ExecuteOnLoop(link->connection, settings);
      co_return link;
    } catch (const pg::Error& error) {
      throw Labelled(error);
    }
  }

  const Signature& SignatureOf(std::string_view name) const {
    const auto found = signatures_.find(name);
    if (!SqlCatalog::Postgresql().Procedure(name) || found == signatures_.end()) {
      Raise(ErrorNumber::kDbCommand, "Could not find stored procedure '" + std::string(name) + "'");
    }
    return found->second;
  }

  // SMS_EvaluateSQL's statement text is sent as it is; the rows are those of its last statement.
  Statement StatementOf(std::string_view name, std::span<const BoundParameter> parameters) const {
    if (name == kEvaluateSql) return {EvaluatedStatement(parameters), {}, true, true};
    const Signature& signature = SignatureOf(name);
    return {signature.call, Match(name, signature, parameters), false, signature.returnsRows};
  }

  // The value of each of the function's parameters, in its order: every one must be given,
  // once, and no other.
  static std::vector<pg::Parameter> Match(std::string_view name, const Signature& signature,
                                          std::span<const BoundParameter> given) {
    std::vector<const BoundValue*> values(signature.parameters.size(), nullptr);
    for (const BoundParameter& parameter : given) {
      std::size_t i = 0;
      while (i < values.size() && !EqualsIgnoreCase(signature.parameters[i], parameter.name)) ++i;
      if (i == values.size() || values[i]) {
        Raise(ErrorNumber::kDbCommand, std::string(name) + " has no parameter '" +
                                           std::string(parameter.name) + "' or it is given twice");
      }
      values[i] = &parameter.value;
    }
    std::vector<pg::Parameter> texts;
    texts.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!values[i]) {
        Raise(ErrorNumber::kDbCommand, std::string(name) + " expects parameter '" +
                                           signature.parameters[i] + "', which was not supplied");
      }
      texts.push_back(ParameterText(*values[i]));
    }
    return texts;
  }

  Recordset::FieldNames& KnownColumns(std::string_view name) {
    const auto found = columns_.find(name);
    if (found != columns_.end()) return found->second;
    return columns_.emplace(std::string(name), nullptr).first->second;
  }

  std::string uri_;
  std::unique_ptr<Link> direct_;  // the blocking calls' connection
  Pool pool_;                     // the event loop's connections
  bool schemaReady_ = false;
  Signatures signatures_;
  // Each procedure's last field list, for its next result.
  std::map<std::string, Recordset::FieldNames, std::less<>> columns_;
  bool setupRunning_ = false;
  std::optional<asio::steady_timer> setupDone_;  // wakes the calls waiting for the setup
  Reachability reachability_;
};

}  // namespace

std::unique_ptr<Backend> MakePostgresqlBackend(std::string uri, std::size_t connections) {
  return std::make_unique<PostgresqlBackend>(std::move(uri), connections);
}

}  // namespace talvex::data
