// The MD2 message digest (RFC 1319). The OpenSSL 3 build we link has no MD2, yet data
// digested or keyed with MD2 on Windows installations must still be readable.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace talvex::crypto {

using Md2Digest = std::array<std::uint8_t, 16>;

Md2Digest Md2(std::span<const std::uint8_t> message);

}  // namespace talvex::crypto
