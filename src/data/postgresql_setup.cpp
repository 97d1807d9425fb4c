// Setting up connections of the PostgreSQL backend: encoding, time zone, schema migrations
// and the installation of the procedures.
//
// Front-ends that start together must not migrate together: the whole step runs in one
// transaction that first takes a transaction-scoped advisory lock, one per schema, so the
// second front-end waits, then finds the schema current. The functions are installed again
// only when their text differs from what the database holds (its MD5 is kept beside the schema
// version), so the common start is a few reads.
#include "data/postgresql_setup.hpp"

#include <ctime>
#include <string>

#include "data/sql_catalog.hpp"

namespace talvex::data {

namespace {

// The offset of the process's local time from UTC now, as SET TIME ZONE takes it.
std::string LocalOffset() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const long minutes = local.tm_gmtoff / 60;
  const long magnitude = minutes < 0 ? -minutes : minutes;
  std::string text = minutes < 0 ? "-" : "+";
  const auto twoDigits = [&](long value) {
    text.push_back(static_cast<char>('0' + value / 10));
    text.push_back(static_cast<char>('0' + value % 10));
  };
  twoDigits(magnitude / 60);
  text.push_back(':');
  twoDigits(magnitude % 60);
  return text;
}

std::string AllProcedures(const SqlCatalog& catalog) {
  std::string text;
  for (const SqlFile& group : catalog.ProcedureGroups()) text.append(group.text);
  return text;
}

int SchemaVersion(pg::Connection& connection) {
  const pg::Result version =
      connection.Execute("SELECT coalesce(max(Version), 0)::text FROM SchemaVersion");
  return std::stoi(std::string(version.Value(0, 0)));
}

void Migrate(pg::Connection& connection, const SqlCatalog& catalog) {
  const int from = SchemaVersion(connection);
  if (from > catalog.LatestVersion()) {
    throw pg::Error("", "schema version " + std::to_string(from) +
                            " is newer than this program's (" +
                            std::to_string(catalog.LatestVersion()) + ")");
  }
  for (const Migration& migration : catalog.Migrations()) {
    if (migration.version <= from) continue;
    connection.ExecuteScript(migration.sql);
    const pg::Parameter version[] = {std::to_string(migration.version)};
    connection.Execute("INSERT INTO SchemaVersion (Version) VALUES ($1::integer)", version);
  }
}

void InstallProcedures(pg::Connection& connection, const SqlCatalog& catalog) {
  const pg::Parameter source[] = {AllProcedures(catalog)};
  const pg::Result current = connection.Execute(
      "SELECT EXISTS (SELECT 1 FROM SchemaProcedures WHERE Digest = md5($1))::text", source);
  if (current.Value(0, 0) == "true") return;
  for (const SqlFile& group : catalog.ProcedureGroups()) connection.ExecuteScript(group.text);
  connection.Execute("DELETE FROM SchemaProcedures");
  connection.Execute("INSERT INTO SchemaProcedures (Digest) VALUES (md5($1))", source);
}

}  // namespace

void CheckEncoding(const pg::Connection& connection) {
  if (connection.ParameterStatus("server_encoding") != "UTF8") {
    throw pg::Error("", "the database's encoding is " +
                            std::string(connection.ParameterStatus("server_encoding")) +
                            "; it must be UTF8");
  }
}

std::string SessionSettingsSql() {
  return "SET TIME ZONE INTERVAL '" + LocalOffset() + "' HOUR TO MINUTE";
}

void PreparePostgresqlConnection(pg::Connection& connection) {
  CheckEncoding(connection);
  connection.ExecuteScript(SessionSettingsSql());
  PrepareSchema(connection);
}

void PrepareSchema(pg::Connection& connection) {
  const SqlCatalog& catalog = SqlCatalog::Postgresql();
  connection.ExecuteScript("BEGIN");
  try {
    connection.ExecuteScript(
        "SELECT pg_advisory_xact_lock(hashtext('talvex schema ' || current_schema()));"
        "CREATE TABLE IF NOT EXISTS SchemaVersion (Version integer PRIMARY KEY, "
        "Applied timestamptz NOT NULL DEFAULT now());"
        "CREATE TABLE IF NOT EXISTS SchemaProcedures (Digest text NOT NULL)");
    Migrate(connection, catalog);
    InstallProcedures(connection, catalog);
    connection.ExecuteScript("COMMIT");
  } catch (...) {
    // Leaves the connection usable when it still is; a lost one is replaced anyway.
    if (connection.IsOpen()) {
      try {
        connection.ExecuteScript("ROLLBACK");
      } catch (const pg::Error&) {
      }
    }
    throw;
  }
}

}  // namespace talvex::data
