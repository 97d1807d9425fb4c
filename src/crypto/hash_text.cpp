// HashText: the MD5 digest of the loaded providers, straight from the shared providers. It gives
// what a CryptoAPI object's CreateHash gives for the same text (MD5, in hexadecimal), without
// making that object for every call: the session digests every message it sends.
#include "crypto/hash_text.hpp"

#include "crypto/bytes.hpp"
#include "crypto/digest.hpp"
#include "crypto/providers.hpp"
#include "platform/ansi.hpp"

namespace talvex {

std::string HashText(std::string_view text) noexcept {
  try {
    const auto providers = crypto::SharedProviders();
    if (!providers) return {};
    const std::string bytes = ansi::Encode(text);
    const auto digest =
        crypto::Digest(*providers, crypto::HashAlgorithm::kMd5, crypto::AsBytes(bytes));
    return digest ? crypto::UpperHex(*digest) : std::string();
  } catch (...) {
    return {};  // never raises (noexcept): any failure gives the empty text
  }
}

}  // namespace talvex
