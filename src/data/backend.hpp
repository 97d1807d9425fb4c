// The database engine behind DataAccess: one connection that runs the stored procedures by
// name. The connection string chooses the engine: SQLite is the embedded default, and a
// PostgreSQL backend implements the same interface for installations of several servers.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "data/parameter.hpp"
#include "data/recordset.hpp"
#include "platform/environment.hpp"

namespace talvex::data {

class Backend {
 public:
  virtual ~Backend() = default;

  // Runs the procedure in one transaction, all or nothing, with the parameters bound by name.
  // With `rows`, returns the rows of its last statement that yields columns as an open record
  // set; without, an unopened one. Every failure raises Failure with kDataAccessSource.
  virtual Recordset Run(std::string_view procedure, std::span<const BoundParameter> parameters,
                        bool rows) = 0;
};

// Where a connection string leads.
struct ConnectionTarget {
  enum class Engine { kSqlite, kPostgresql };
  Engine engine = Engine::kSqlite;
  std::string location;  // the database file, or the PostgreSQL connection URI
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
