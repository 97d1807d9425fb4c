// New GUIDs (version 4, from the system's random source), their registry text form and the
// identifiers made of them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace talvex::guid {

using Guid = std::array<std::uint8_t, 16>;

// A fresh random GUID; nullopt when the system cannot supply random bytes.
std::optional<Guid> NewGuid();

}  // namespace talvex::guid

namespace talvex {

// A new identifier (of a session, of a user): the 32 upper-case hexadecimal digits of a fresh
// GUID, without its punctuation; the empty text when the system has no random bytes.
std::string NewHexIdentifier();

}  // namespace talvex
