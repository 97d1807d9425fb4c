// The registry: named values under hierarchical keys, below a few predefined roots, kept in
// an SQLite file (registry.db in the data dir) so that the server and the admin tool share it.
// Each call opens the file, acts and closes it, as a registry handle lives for one operation.
// Results are the platform registry's status codes; key paths and value names compare
// without regard to case.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace talvex {

namespace regstatus {
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kNotFound = 2;      // key or value does not exist
inline constexpr std::int32_t kAccessDenied = 5;  // e.g. deleting a key that has subkeys
inline constexpr std::int32_t kMoreData = 234;    // the value is larger than the buffer
inline constexpr std::int32_t kIoFailed = 1016;   // the store file cannot be read or written
}  // namespace regstatus

// Value types as the registry stores them.
namespace regtype {
inline constexpr std::int32_t kString = 1;  // REG_SZ
inline constexpr std::int32_t kBinary = 3;  // REG_BINARY
inline constexpr std::int32_t kDword = 4;   // REG_DWORD
}  // namespace regtype

class RegistryStore {
 public:
  explicit RegistryStore(std::filesystem::path file) : file_(std::move(file)) {}

  struct Value {
    std::int32_t status = regstatus::kNotFound;
    std::int32_t type = 0;
    std::string data;  // raw bytes as stored
  };

  // 0 when the key exists (the empty path names the root itself), else 2.
  std::int32_t OpenKey(std::string_view root, std::string_view path) const;
  // Creates the key and every missing key above it.
  std::int32_t CreateKey(std::string_view root, std::string_view path) const;
  Value QueryValue(std::string_view root, std::string_view path, std::string_view name) const;
  // The key must exist (2 otherwise).
  std::int32_t SetValue(std::string_view root, std::string_view path, std::string_view name,
                        std::int32_t type, std::string_view data) const;
  std::int32_t DeleteValue(std::string_view root, std::string_view path,
                           std::string_view name) const;
  // Deletes subkey `name` of `path` with its values; a key with subkeys of its own is refused.
  std::int32_t DeleteKey(std::string_view root, std::string_view path, std::string_view name) const;

 private:
  std::filesystem::path file_;
};

}  // namespace talvex
