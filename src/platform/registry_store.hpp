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

#include "platform/registry_codes.hpp"

namespace talvex {

class RegistryStore {
 public:
  explicit RegistryStore(std::filesystem::path file) : file_(std::move(file)) {}

  struct Value {
    RegStatus status = RegStatus::kNotFound;
    RegType type{};
    std::string data;  // raw bytes as stored
  };

  // 0 when the key exists (the empty path names the root itself), else 2.
  RegStatus OpenKey(std::string_view root, std::string_view path) const;
  // Creates the key and every missing key above it.
  RegStatus CreateKey(std::string_view root, std::string_view path) const;
  Value QueryValue(std::string_view root, std::string_view path, std::string_view name) const;
  // The key must exist (2 otherwise).
  RegStatus SetValue(std::string_view root, std::string_view path, std::string_view name,
                     RegType type, std::string_view data) const;
  RegStatus DeleteValue(std::string_view root, std::string_view path, std::string_view name) const;
  // Deletes subkey `name` of `path` with its values; a key with subkeys of its own is refused.
  RegStatus DeleteKey(std::string_view root, std::string_view path, std::string_view name) const;

 private:
  std::filesystem::path file_;
};

}  // namespace talvex
