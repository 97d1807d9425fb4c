// The four message digests of the component (MD5, MD4, MD2, SHA-1), by the algorithm codes
// that callers pass. A digest is always over exactly the bytes given, with nothing appended.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "crypto/bytes.hpp"
#include "crypto/providers.hpp"

namespace talvex::crypto {

enum class HashAlgorithm { kMd5, kMd4, kMd2, kSha1 };

// Hash codes 1 MD5, 2 MD4, 3 MD2, 4 SHA-1; anything else has no algorithm.
std::optional<HashAlgorithm> HashFromCode(std::int32_t code);

// The digest of the message; nullopt when the provider cannot compute it.
std::optional<Bytes> Digest(const Providers& providers, HashAlgorithm algorithm,
                            std::span<const std::uint8_t> message);

}  // namespace talvex::crypto
