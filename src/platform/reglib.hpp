// RegLib: the component's access to registry values. Four operations take a root code, a
// key path, a value name and a value-type code and return the registry's status code; they
// never raise. RecordLocalHostName is the registry step of every successful start.
#pragma once

#include <cstdint>
#include <string>

#include "platform/environment.hpp"
#include "platform/registry_store.hpp"
#include "platform/variant.hpp"

namespace talvex {

// ParentKey codes.
namespace regroot {
inline constexpr std::int32_t kClassesRoot = 0;
inline constexpr std::int32_t kCurrentUser = 1;
inline constexpr std::int32_t kLocalMachine = 2;
inline constexpr std::int32_t kUsers = 3;
inline constexpr std::int32_t kCurrentConfig = 4;
}  // namespace regroot

// ValueType codes.
namespace regvalue {
inline constexpr std::int32_t kText = 0;     // "S": REG_SZ
inline constexpr std::int32_t kBoolean = 1;  // "B": REG_BINARY of 2 bytes
inline constexpr std::int32_t kWord = 2;     // "D": REG_DWORD from a 16-bit value
}  // namespace regvalue

// Status when the root is unknown or nothing reached the registry.
inline constexpr std::int32_t kRegStatusNoRoot = 99;

class RegLib {
 public:
  explicit RegLib(const Environment& env) : store_(env.RegistryPath()) {}

  std::int32_t ReadRegValue(std::int32_t ParentKey, const std::string& SubKey,
                            const std::string& ValueName, std::int32_t ValueType,
                            const Variant& Default, Variant& Value) const;
  std::int32_t WriteRegValue(std::int32_t ParentKey, const std::string& SubKey,
                             const std::string& ValueName, std::int32_t ValueType,
                             const Variant& Value) const;
  std::int32_t DeleteRegValue(std::int32_t ParentKey, const std::string& SubKey,
                              const std::string& ValueName) const;
  std::int32_t DeleteRegKey(std::int32_t ParentKey, const std::string& SubKey,
                            const std::string& KeyName) const;

 private:
  RegistryStore store_;
};

// Stores the listener's host name as "LocalHostName" of the gateway service key; failures
// are ignored so that a start never fails on the registry.
void RecordLocalHostName(const Environment& env, const std::string& HostName);

}  // namespace talvex
