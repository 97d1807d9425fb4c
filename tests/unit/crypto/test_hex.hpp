// Hexadecimal helpers of the crypto tests: published vectors are written in lower-case hex.
#pragma once

#include <string>
#include <string_view>

#include "crypto/bytes.hpp"

namespace talvex::crypto::testing {

inline std::string LowerHex(const Bytes& bytes) {
  std::string out = UpperHex(bytes);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// n bytes counting up from first, wrapping at 256: the data of the Windows provider tests.
inline Bytes Counting(std::size_t n, std::size_t first = 0) {
  Bytes out(n);
  for (std::size_t j = 0; j < n; ++j) out[j] = static_cast<std::uint8_t>((first + j) & 0xFF);
  return out;
}

}  // namespace talvex::crypto::testing
