// The SQL that the embedded database runs, as compiled into the program: the schema
// migrations in version order and the stored procedures by name. A procedure group is a file
// of procedures, each starting at a line "-- @procedure NAME" and running to the next such
// line; a migration file's name starts with its version number ("0001_initial.sql").
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

  // The catalog of the SQLite backend, made once from the embedded files.
  static const SqlCatalog& Sqlite();

  const std::vector<Migration>& Migrations() const { return migrations_; }
  int LatestVersion() const { return migrations_.empty() ? 0 : migrations_.back().version; }
  std::optional<std::string_view> Procedure(std::string_view name) const;

 private:
  std::vector<Migration> migrations_;
  std::map<std::string, std::string_view, std::less<>> procedures_;
};

}  // namespace talvex::data
