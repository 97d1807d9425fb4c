// The embedded backend: one SQLite connection to a database file, opened at the first call.
#pragma once

#include <filesystem>
#include <memory>

#include "data/backend.hpp"

namespace talvex::data {

// Creates the file's directory at once (raising ErrorNumber::kDbProvider when it cannot); the file
// and its schema are created at the first call.
std::unique_ptr<Backend> MakeSqliteBackend(const std::filesystem::path& file);

}  // namespace talvex::data
