// RegLib: the component's access to registry values. Four operations take a root code, a
// key path, a value name and a value-type code (platform/registry_codes.hpp) and return the
// registry's status; they never raise. RecordLocalHostName is the registry step of every successful
// start.
#pragma once

#include <cstdint>
#include <string>

#include "platform/environment.hpp"
#include "platform/registry_codes.hpp"
#include "platform/registry_store.hpp"
#include "platform/variant.hpp"

namespace talvex {

class RegLib {
 public:
  explicit RegLib(const Environment& env) : store_(env.RegistryPath()) {}

  RegStatus ReadRegValue(RegRoot parentKey, const std::string& subKey, const std::string& valueName,
                         RegValueType valueType, const Variant& defaultValue, Variant& value) const;
  RegStatus WriteRegValue(RegRoot parentKey, const std::string& subKey,
                          const std::string& valueName, RegValueType valueType,
                          const Variant& value) const;
  RegStatus DeleteRegValue(RegRoot parentKey, const std::string& subKey,
                           const std::string& valueName) const;
  RegStatus DeleteRegKey(RegRoot parentKey, const std::string& subKey,
                         const std::string& keyName) const;

 private:
  RegistryStore store_;
};

// Stores the listener's host name as "LocalHostName" of the gateway service key; failures
// are ignored so that a start never fails on the registry.
void RecordLocalHostName(const Environment& env, const std::string& hostName);

}  // namespace talvex
