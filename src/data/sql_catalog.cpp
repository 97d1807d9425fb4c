// Reading the embedded SQL files into migrations and procedures.
#include "data/sql_catalog.hpp"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "data/sql_sources.hpp"

namespace talvex::data {

namespace {

constexpr std::string_view kMarker = "-- @procedure ";

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

SqlCatalog::SqlCatalog(std::span<const SqlFile> migrations,
                       std::span<const SqlFile> procedureGroups)
    : groups_(procedureGroups.begin(), procedureGroups.end()) {
  for (const SqlFile& file : migrations) {
    int version = 0;
    const auto parsed =
        std::from_chars(file.name.data(), file.name.data() + file.name.size(), version);
    if (parsed.ec != std::errc() || version != LatestVersion() + 1) {
      throw std::logic_error("migration " + std::string(file.name) + " is not version " +
                             std::to_string(LatestVersion() + 1));
    }
    migrations_.push_back({version, file.name, file.text});
  }
  for (const SqlFile& file : procedureGroups) {
    std::string name;
    std::size_t bodyStart = 0;
    const auto finish = [&](std::size_t bodyEnd) {
      if (name.empty()) return;  // the group's leading comment
      if (!procedures_.emplace(name, file.text.substr(bodyStart, bodyEnd - bodyStart)).second) {
        throw std::logic_error("procedure " + name + " is defined twice");
      }
    };
    for (std::size_t at = 0; at < file.text.size();) {
      const std::size_t eol = std::min(file.text.find('\n', at), file.text.size());
      const std::string_view line = file.text.substr(at, eol - at);
      const std::size_t next = eol + 1;
      if (line.starts_with(kMarker)) {
        finish(at);
        name = std::string(Trimmed(line.substr(kMarker.size())));
        bodyStart = std::min(next, file.text.size());
      }
      at = next;
    }
    finish(file.text.size());
  }
}

const SqlCatalog& SqlCatalog::Sqlite() {
  static const SqlCatalog kCatalog(sql::kSqliteMigrations, sql::kSqliteProcedureGroups);
  return kCatalog;
}

const SqlCatalog& SqlCatalog::Postgresql() {
  static const SqlCatalog kCatalog(sql::kPostgresqlMigrations, sql::kPostgresqlProcedureGroups);
  return kCatalog;
}

std::optional<std::string_view> SqlCatalog::Procedure(std::string_view name) const {
  const auto found = procedures_.find(name);
  if (found == procedures_.end()) return std::nullopt;
  return found->second;
}

}  // namespace talvex::data
