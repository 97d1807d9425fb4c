// New GUIDs (version 4, from the system's random source) and their registry text form.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace talvex::guid {

using Guid = std::array<std::uint8_t, 16>;

// A fresh random GUID; nullopt when the system cannot supply random bytes.
std::optional<Guid> NewGuid();

// Registry form: 38 characters, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::string ToRegistryForm(const Guid& guid);

}  // namespace talvex::guid
