// The SQL that a database engine runs, as compiled into the program: the schema migrations in
// version order and the stored procedures by name. A procedure group is a file of procedures,
// each starting at a line "-- @procedure NAME" and running to the next such line; a migration
// file's name starts with its version number ("0001_initial.sql"). For SQLite a procedure is
// the statements it runs; for PostgreSQL it is the CREATE OR REPLACE FUNCTION that installs it.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvex::data {

struct SqlFile {
  std::string_view name;
  std::string_view text;
};

struct Migration {
  int version;
  std::string_view name;
  std::string_view sql;
};

class SqlCatalog {
 public:
  // Throws std::logic_error for files that break the rules above (a defect of the build).
  SqlCatalog(std::span<const SqlFile> migrations, std::span<const SqlFile> procedureGroups);

  // The catalogs of the two backends, each made once from the embedded files.
  static const SqlCatalog& Sqlite();
  static const SqlCatalog& Postgresql();

  const std::vector<Migration>& Migrations() const { return migrations_; }
  // The procedure group files whole, in the order given.
  const std::vector<SqlFile>& ProcedureGroups() const { return groups_; }
  int LatestVersion() const { return migrations_.empty() ? 0 : migrations_.back().version; }
  std::optional<std::string_view> Procedure(std::string_view name) const;

 private:
  std::vector<Migration> migrations_;
  std::vector<SqlFile> groups_;
  std::map<std::string, std::string_view, std::less<>> procedures_;
};

}  // namespace talvex::data
