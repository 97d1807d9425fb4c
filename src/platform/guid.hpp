// New GUIDs (version 4, from the system's random source), their registry text form and the
// identifiers made of them, one at a time or from a source that fetches the random bytes of
// many at once.
#pragma once

#include <array>
#include <cstddef>
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

// Identifiers as NewHexIdentifier makes them, from random bytes fetched for kBatch of them at a
// time: a server that names every connection would otherwise ask the system once per connection.
class IdentifierSource {
 public:
  // The next identifier; the empty text when the system has no random bytes.
  std::string Next();

 private:
  static constexpr std::size_t kBatch = 16;  // 256 bytes, which getrandom hands over whole
  std::array<std::uint8_t, kBatch * sizeof(guid::Guid)> bytes_{};
  std::size_t taken_ = bytes_.size();
};

}  // namespace talvex
