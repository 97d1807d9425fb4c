// Choosing the backend by the connection string.
#include "data/backend.hpp"

#include "data/data_errors.hpp"
#include "data/postgresql_backend.hpp"
#include "data/sqlite_backend.hpp"
#include "platform/ascii.hpp"

namespace talvex::data {

asio::awaitable<Recordset> Backend::RunAsync(std::string procedure,
                                             std::vector<BoundParameter> parameters, bool rows) {
  co_return Run(procedure, parameters, rows);
}

const std::string& EvaluatedStatement(std::span<const BoundParameter> parameters) {
  constexpr std::string_view kSqlString = "SQLString";
  const std::string* text =
      parameters.size() == 1 && EqualsIgnoreCase(parameters[0].name, kSqlString)
          ? std::get_if<std::string>(&parameters[0].value)
          : nullptr;
  if (!text) {
    Raise(ErrorNumber::kDbCommand, std::string(kEvaluateSql) + " takes one parameter '" +
                                       std::string(kSqlString) + "', the statement text");
  }
  return *text;
}

ConnectionTarget ResolveConnection(std::string_view connection, const Environment& env) {
  using Engine = ConnectionTarget::Engine;
  if (connection.empty()) {
    if (env.database.empty()) return {Engine::kSqlite, env.EmbeddedDatabasePath().string()};
    connection = env.database;
  }
  constexpr std::string_view kSqlite = "sqlite:";
  if (connection.starts_with(kSqlite) && connection.size() > kSqlite.size()) {
    return {Engine::kSqlite, std::string(connection.substr(kSqlite.size()))};
  }
  if (connection.starts_with("postgresql://") || connection.starts_with("postgres://")) {
    return {Engine::kPostgresql, std::string(connection), env.databaseConnections};
  }
  // The text itself is not repeated: it may hold a password.
  Raise(ErrorNumber::kDbProvider,
        "The connection string is neither sqlite:PATH nor postgresql://...");
}

std::unique_ptr<Backend> CreateBackend(const ConnectionTarget& target) {
  if (target.engine == ConnectionTarget::Engine::kPostgresql) {
    return MakePostgresqlBackend(target.location,
                                 target.connections == 0 ? kPooledConnections : target.connections);
  }
  return MakeSqliteBackend(target.location);
}

}  // namespace talvex::data
