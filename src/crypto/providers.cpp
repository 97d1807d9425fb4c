// Loading the OpenSSL providers into a library context of our own.
#include "crypto/providers.hpp"

#include <array>

namespace talvex::crypto {

namespace {

constexpr std::array<std::string_view, 3> kDigestNames = {"MD5", "MD4", "SHA1"};
constexpr std::array<std::string_view, 5> kCipherNames = {"RC4", "RC2-CBC", "DES-CBC",
                                                          "DES-EDE3-CBC", "DES-EDE-CBC"};

}  // namespace

std::shared_ptr<const Providers> Providers::Load() {
  auto loaded = std::make_shared<Providers>(ConstructionKey{});
  loaded->library_.reset(OSSL_LIB_CTX_new());
  if (!loaded->library_) return nullptr;
  // Loading a provider explicitly stops "default" from being loaded implicitly, so both are
  // named here.
  loaded->legacy_.reset(OSSL_PROVIDER_load(loaded->library_.get(), "legacy"));
  loaded->default_.reset(OSSL_PROVIDER_load(loaded->library_.get(), "default"));
  if (!loaded->legacy_ || !loaded->default_) return nullptr;
  // A name that does not fetch is left out and fails again, as before, at its use.
  for (const std::string_view name : kDigestNames) {
    if (UniqueMd md{EVP_MD_fetch(loaded->library_.get(), name.data(), nullptr)}) {
      loaded->digests_.emplace_back(name, std::move(md));
    }
  }
  for (const std::string_view name : kCipherNames) {
    if (UniqueCipher cipher{EVP_CIPHER_fetch(loaded->library_.get(), name.data(), nullptr)}) {
      loaded->ciphers_.emplace_back(name, std::move(cipher));
    }
  }
  return loaded;
}

UniqueMd Providers::FetchDigest(const char* name) const {
  for (const auto& [known, md] : digests_) {
    if (known == name && EVP_MD_up_ref(md.get()) == 1) return UniqueMd(md.get());
  }
  return UniqueMd(EVP_MD_fetch(library_.get(), name, nullptr));
}

UniqueCipher Providers::FetchCipher(const char* name) const {
  for (const auto& [known, cipher] : ciphers_) {
    if (known == name && EVP_CIPHER_up_ref(cipher.get()) == 1) return UniqueCipher(cipher.get());
  }
  return UniqueCipher(EVP_CIPHER_fetch(library_.get(), name, nullptr));
}

std::shared_ptr<const Providers> SharedProviders() {
  static const std::shared_ptr<const Providers> kShared = Providers::Load();
  return kShared;
}

}  // namespace talvex::crypto
