// GUID generation from getrandom(2).
#include "platform/guid.hpp"

#include <sys/random.h>

#include "platform/hex.hpp"

namespace talvex::guid {

std::optional<Guid> NewGuid() {
  Guid g{};
  std::size_t filled = 0;
  while (filled < g.size()) {
    const ssize_t n = getrandom(g.data() + filled, g.size() - filled, 0);
    if (n <= 0) return std::nullopt;
    filled += static_cast<std::size_t>(n);
  }
  g[6] = static_cast<std::uint8_t>((g[6] & 0x0F) | 0x40);  // version 4
  g[8] = static_cast<std::uint8_t>((g[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return g;
}

}  // namespace talvex::guid

namespace talvex {

std::string NewHexIdentifier() {
  const auto guid = guid::NewGuid();
  std::string id;
  if (!guid) return id;
  for (const std::uint8_t byte : *guid) hex::AppendByte(id, byte);
  return id;
}

}  // namespace talvex
