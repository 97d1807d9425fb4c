// The database engine behind DataAccess: one connection that runs the stored procedures by
// name. The connection string chooses the engine: SQLite is the embedded default, and a
// PostgreSQL backend implements the same interface for installations of several servers.
#pragma once

#include <asio/awaitable.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/body_reader.hpp"
#include "data/parameter.hpp"
#include "data/recordset.hpp"
#include "platform/environment.hpp"
#include "platform/log.hpp"

namespace talvex::data {

class Backend {
 public:
  virtual ~Backend() = default;

  // Runs the procedure in one transaction, all or nothing, with the parameters bound by name.
  // With `rows`, returns the rows of its last statement that yields columns as an open record
  // set; without, an unopened one. Every failure raises Failure with kDataAccessSource.
  virtual Recordset Run(std::string_view procedure, std::span<const BoundParameter> parameters,
                        bool rows) = 0;

  // Run for a caller on the event loop: the same call and the same failures, awaited, so that
  // an engine that waits on the network suspends only its caller. The call owns its arguments
  // while it is suspended. By default the call runs at once: the embedded engine answers
  // in-process.
  virtual asio::awaitable<Recordset> RunAsync(std::string procedure,
                                              std::vector<BoundParameter> parameters, bool rows);

  // A reader of the stored body of item `itemId` that takes it a range at a time without the
  // engine loading it whole, or null when the engine has no such access: the caller then reads
  // it through the ranged procedure SMS_GetP3BodyPiece.
  virtual std::unique_ptr<BodyReader> OpenBody(std::int64_t /*itemId*/) { return nullptr; }

  // Where the backend reports the state of its database as a whole (unreachable, reachable
  // again), once per change rather than once per failed call. None by default.
  virtual void SetEventLog(const LogSink& /*log*/) {}
};

// The procedure that runs the statement text given as its one parameter "SQLString": the
// administrator's interface of the suite (the admin tool, the connection test and the version
// query use it); no network command leads to it. Every engine runs it itself.
inline constexpr std::string_view kEvaluateSql = "SMS_EvaluateSQL";

// The statement text of an SMS_EvaluateSQL call; raises ErrorNumber::kDbCommand when the
// parameters are not that one text.
const std::string& EvaluatedStatement(std::span<const BoundParameter> parameters);

// Where a connection string leads.
struct ConnectionTarget {
  enum class Engine { kSqlite, kPostgresql };
  Engine engine = Engine::kSqlite;
  std::string location;         // the database file, or the PostgreSQL connection URI
  std::size_t connections = 0;  // PostgreSQL: the pool's size; 0 for the default
  bool operator==(const ConnectionTarget&) const = default;
};

// "sqlite:PATH" and "postgresql://..." (or "postgres://...") name their engine. The empty
// string is the process default: env.database when it is set, else the embedded database file
// in the data dir. Raises ErrorNumber::kDbProvider for any other text.
ConnectionTarget ResolveConnection(std::string_view connection, const Environment& env);

// Makes the backend of a target; its connection opens at its first call. Raises
// ErrorNumber::kDbProvider when the backend cannot be made.
std::unique_ptr<Backend> CreateBackend(const ConnectionTarget& target);

}  // namespace talvex::data
