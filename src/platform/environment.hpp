// Process settings that every object of the component may need and no object may change:
// where the embedded database and the registry store live, and which database to use.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace talvex {

struct Environment {
  // Directory of the embedded database (talvex.db) and the registry store (registry.db).
  std::filesystem::path dataDir = "talvex-data";
  // Default database connection ("sqlite:PATH" or "postgresql://..."); empty means the
  // embedded file in dataDir.
  std::string database;
  // How many PostgreSQL connections the sessions of one server share at most; 0 leaves it to
  // the backend. The database's connection limit bounds the sum over every front-end.
  std::size_t databaseConnections = 0;

  std::filesystem::path RegistryPath() const { return dataDir / "registry.db"; }
  std::filesystem::path EmbeddedDatabasePath() const { return dataDir / "talvex.db"; }
};

}  // namespace talvex
