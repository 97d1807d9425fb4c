// The directory of a data file (the embedded database, the registry store): made before the
// file is opened, so that a fresh data dir needs no setup step.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace talvex {

// Creates the file's parent directory and any missing above it. Nothing when the directory
// exists or was made; else why it cannot be made, as one line naming the directory.
std::optional<std::string> CreateDataDirectory(const std::filesystem::path& file);

}  // namespace talvex
