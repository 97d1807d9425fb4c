// HashText through a CryptoAPI object made for the one call.
#include "crypto/hash_text.hpp"

#include "crypto/crypto_api.hpp"
#include "platform/ansi.hpp"

namespace talvex {

namespace {
constexpr std::int16_t kMd5 = 1;
}  // namespace

std::string HashText(std::string_view text) noexcept {
  try {
    CryptoAPI crypto;
    return crypto.CreateHash(ansi::Encode(text), kMd5, true, false, false);
  } catch (...) {
    return {};  // never raises (noexcept): any failure gives the empty text
  }
}

}  // namespace talvex
