// The loaded OpenSSL providers that every cryptographic operation runs on: a library context
// of our own with the "default" provider (MD5, SHA-1, triple DES, the random generator) and
// the "legacy" provider (MD4, RC4, RC2, single DES). An own context keeps the legacy
// algorithms out of OpenSSL's process-wide default context, which other users of libcrypto
// in the process (database TLS) rely on.
#pragma once

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include <openssl/evp.h>
#include <openssl/provider.h>

namespace talvex::crypto {

struct MdFree {
  void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct CipherFree {
  void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using UniqueMd = std::unique_ptr<EVP_MD, MdFree>;
using UniqueCipher = std::unique_ptr<EVP_CIPHER, CipherFree>;
using UniqueMdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using UniqueCipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

class Providers {
 public:
  // A new library context with both providers loaded; nullptr when either cannot be loaded.
  static std::shared_ptr<const Providers> Load();

  // Only Load constructs; the key keeps the constructor usable by make_shared alone.
  class ConstructionKey {
    friend class Providers;
    ConstructionKey() = default;
  };
  explicit Providers(ConstructionKey) {}

  Providers(const Providers&) = delete;
  Providers& operator=(const Providers&) = delete;

  OSSL_LIB_CTX* Library() const { return library_.get(); }
  // Implementations by OpenSSL name ("MD5", "RC2-CBC"...); null when not available.
  UniqueMd FetchDigest(const char* name) const;
  UniqueCipher FetchCipher(const char* name) const;

 private:
  struct LibraryFree {
    void operator()(OSSL_LIB_CTX* ctx) const { OSSL_LIB_CTX_free(ctx); }
  };
  struct ProviderUnload {
    void operator()(OSSL_PROVIDER* provider) const { OSSL_PROVIDER_unload(provider); }
  };
  using UniqueProvider = std::unique_ptr<OSSL_PROVIDER, ProviderUnload>;

  // Declared first so that it is released last, after the providers loaded into it.
  std::unique_ptr<OSSL_LIB_CTX, LibraryFree> library_;
  UniqueProvider legacy_;
  UniqueProvider default_;
  // The implementations the component uses, fetched once at loading and handed out as new
  // references: a fetch searches OpenSSL's method store under its lock, which cost about as
  // much as digesting a short message, and every digest and every encryption needs one.
  std::vector<std::pair<std::string_view, UniqueMd>> digests_;
  std::vector<std::pair<std::string_view, UniqueCipher>> ciphers_;
};

// The providers shared by the whole process, loaded on first use and kept until exit. A fresh
// library context costs about a quarter of a millisecond per algorithm family on its first
// fetch, far more than digesting a message, and the component creates a CryptoAPI object
// for every digest; sharing one loaded context keeps that cost out of every call. The
// context is never changed after loading (OpenSSL guards its own method caches). nullptr
// when the providers could not be loaded.
std::shared_ptr<const Providers> SharedProviders();

}  // namespace talvex::crypto
