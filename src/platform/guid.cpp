// GUID generation from getrandom(2).
#include "platform/guid.hpp"

#include <sys/random.h>

#include <algorithm>
#include <span>

#include "platform/hex.hpp"

namespace talvex::guid {

namespace {

bool FillRandom(std::span<std::uint8_t> bytes) {
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t n = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (n <= 0) return false;
    filled += static_cast<std::size_t>(n);
  }
  return true;
}

void MarkVersion4(Guid& g) {
  g[6] = static_cast<std::uint8_t>((g[6] & 0x0F) | 0x40);  // version 4
  g[8] = static_cast<std::uint8_t>((g[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

}  // namespace

std::optional<Guid> NewGuid() {
  Guid g{};
  if (!FillRandom(g)) return std::nullopt;
  MarkVersion4(g);
  return g;
}

}  // namespace talvex::guid

namespace talvex {

namespace {

std::string HexOf(const guid::Guid& guid) {
  std::string id;
  id.reserve(2 * guid.size());
  for (const std::uint8_t byte : guid) hex::AppendByte(id, byte);
  return id;
}

}  // namespace

std::string NewHexIdentifier() {
  const auto guid = guid::NewGuid();
  return guid ? HexOf(*guid) : std::string();
}

std::string IdentifierSource::Next() {
  if (taken_ == bytes_.size()) {
    if (!guid::FillRandom(bytes_)) return {};
    taken_ = 0;
  }
  guid::Guid g{};
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(taken_), g.size(), g.begin());
  taken_ += g.size();
  guid::MarkVersion4(g);
  return HexOf(g);
}

}  // namespace talvex
