// Loading the OpenSSL providers into a library context of our own.
#include "crypto/providers.hpp"

namespace talvex::crypto {

std::shared_ptr<const Providers> Providers::Load() {
  auto loaded = std::make_shared<Providers>(ConstructionKey{});
  loaded->library_.reset(OSSL_LIB_CTX_new());
  if (!loaded->library_) return nullptr;
  // Loading a provider explicitly stops "default" from being loaded implicitly, so both are
  // named here.
  loaded->legacy_.reset(OSSL_PROVIDER_load(loaded->library_.get(), "legacy"));
  loaded->default_.reset(OSSL_PROVIDER_load(loaded->library_.get(), "default"));
  if (!loaded->legacy_ || !loaded->default_) return nullptr;
  return loaded;
}

UniqueMd Providers::FetchDigest(const char* name) const {
  return UniqueMd(EVP_MD_fetch(library_.get(), name, nullptr));
}

UniqueCipher Providers::FetchCipher(const char* name) const {
  return UniqueCipher(EVP_CIPHER_fetch(library_.get(), name, nullptr));
}

std::shared_ptr<const Providers> SharedProviders() {
  static const std::shared_ptr<const Providers> kShared = Providers::Load();
  return kShared;
}

}  // namespace talvex::crypto
