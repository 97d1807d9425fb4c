// Creation of data directories.
#include "platform/data_directory.hpp"

#include <system_error>

namespace talvex {

std::optional<std::string> CreateDataDirectory(const std::filesystem::path& file) {
  if (!file.has_parent_path()) return std::nullopt;
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  if (!ec) return std::nullopt;
  return "Cannot create the data directory '" + file.parent_path().string() + "': " + ec.message();
}

}  // namespace talvex
