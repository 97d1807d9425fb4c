// Windows session-key derivation and single-block encryption on OpenSSL.
#include "crypto/session_key.hpp"

#include <array>
#include <climits>

namespace talvex::crypto {

namespace {

constexpr std::size_t kBlockSize = 8;
constexpr std::size_t kSaltLength = 11;      // the 88-bit salt of 40-bit keys, all zero here
constexpr std::size_t kExportKeyLength = 5;  // 40 bits
constexpr std::size_t kExpansionBlock = 64;

struct CipherSpec {
  std::int32_t code;
  CipherAlgorithm cipher;
  const char* opensslName;
  bool block;
  bool variableKey;            // RC2 and RC4 take the key length they are given
  std::size_t baseLength;      // default key bytes of the base provider, 0: not offered
  std::size_t enhancedLength;  // the same for the enhanced provider
};

// Default key lengths per provider. DES keys are stored with their parity bits (56 bits in
// 8 bytes, 112 in 16, 168 in 24); DES ignores those bits, so they are used as they come.
constexpr std::array<CipherSpec, 5> kCiphers = {{
    {1, CipherAlgorithm::kRc4, "RC4", false, true, 5, 16},
    {2, CipherAlgorithm::kRc2, "RC2-CBC", true, true, 5, 16},
    {3, CipherAlgorithm::kDes, "DES-CBC", true, false, 8, 8},
    {4, CipherAlgorithm::kTripleDes, "DES-EDE3-CBC", true, false, 0, 24},
    {5, CipherAlgorithm::kTripleDes112, "DES-EDE-CBC", true, false, 0, 16},
}};

const CipherSpec& SpecOf(CipherAlgorithm cipher) {
  for (const CipherSpec& entry : kCiphers) {
    if (entry.cipher == cipher) return entry;
  }
  return kCiphers.front();  // unreachable: every enumerator has a row
}

std::size_t KeyLength(const CipherSpec& entry, ProviderKind provider) {
  return provider == ProviderKind::kBase ? entry.baseLength : entry.enhancedLength;
}

// When the digest is shorter than the key (only triple DES against a 16- or 20-byte digest),
// the providers stretch it: the digest XORed into 64 bytes of 0x36 and into 64 bytes of 0x5C,
// each block hashed, the two digests joined.
std::optional<Bytes> ExpandDigest(const Providers& providers, HashAlgorithm hash,
                                  std::span<const std::uint8_t> hashValue) {
  Bytes joined;
  for (const std::uint8_t fill : {std::uint8_t{0x36}, std::uint8_t{0x5C}}) {
    WipedBytes block(Bytes(kExpansionBlock, fill));
    for (std::size_t i = 0; i < hashValue.size() && i < kExpansionBlock; ++i) {
      block.Get()[i] ^= hashValue[i];
    }
    WipedBytes part(Digest(providers, hash, block.Get()).value_or(Bytes{}));
    if (part.Get().empty()) return std::nullopt;
    joined.insert(joined.end(), part.Get().begin(), part.Get().end());
  }
  return joined;
}

}  // namespace

std::optional<CipherAlgorithm> CipherFromCode(std::int32_t code, ProviderKind table) {
  for (const CipherSpec& entry : kCiphers) {
    if (entry.code != code) continue;
    if (KeyLength(entry, table) == 0) return std::nullopt;
    return entry.cipher;
  }
  return std::nullopt;
}

std::optional<SessionKey> SessionKey::Derive(const Providers& providers, ProviderKind provider,
                                             CipherAlgorithm cipher, HashAlgorithm hash,
                                             std::span<const std::uint8_t> hashValue) {
  const CipherSpec& entry = SpecOf(cipher);
  const std::size_t length = KeyLength(entry, provider);
  if (length == 0 || hashValue.empty()) return std::nullopt;

  WipedBytes material;
  if (hashValue.size() >= length) {
    material.Get().assign(hashValue.begin(), hashValue.end());
  } else {
    auto expanded = ExpandDigest(providers, hash, hashValue);
    if (!expanded || expanded->size() < length) return std::nullopt;
    material = WipedBytes(std::move(*expanded));
  }
  Bytes key(material.Get().begin(), material.Get().begin() + static_cast<std::ptrdiff_t>(length));
  // 40-bit RC2 and RC4 keys carry an 11-byte salt, zero because no salt was asked for; the
  // cipher is keyed with key and salt together, 16 bytes.
  if (entry.variableKey && length == kExportKeyLength) key.resize(length + kSaltLength, 0);
  const int effectiveBits = static_cast<int>(length * 8);
  return SessionKey(cipher, std::move(key), effectiveBits);
}

std::optional<Bytes> SessionKey::Encrypt(const Providers& providers,
                                         std::span<const std::uint8_t> data,
                                         std::size_t bufferLength) const {
  if (SpecOf(cipher_).block) {
    const std::size_t padded = kBlockSize * (data.size() / kBlockSize + 1);
    if (padded > bufferLength) return std::nullopt;  // ERROR_MORE_DATA on Windows
  }
  return Run(providers, data, true);
}

std::optional<Bytes> SessionKey::Decrypt(const Providers& providers,
                                         std::span<const std::uint8_t> data) const {
  if (data.empty()) return std::nullopt;  // NTE_BAD_LEN
  if (SpecOf(cipher_).block && data.size() % kBlockSize != 0) return std::nullopt;
  return Run(providers, data, false);
}

std::optional<Bytes> SessionKey::Run(const Providers& providers, std::span<const std::uint8_t> data,
                                     bool encrypt) const {
  const CipherSpec& entry = SpecOf(cipher_);
  if (data.size() > static_cast<std::size_t>(INT_MAX) - 2 * kBlockSize) return std::nullopt;
  const UniqueCipher cipher = providers.FetchCipher(entry.opensslName);
  const UniqueCipherCtx ctx(EVP_CIPHER_CTX_new());
  if (!cipher || !ctx) return std::nullopt;

  const int direction = encrypt ? 1 : 0;
  const std::array<std::uint8_t, kBlockSize> zeroIv{};
  // RC2 needs its key length and effective bits set between choosing the cipher and
  // supplying the key; OpenSSL's default of 128 effective bits would not match the base
  // provider's 40.
  if (EVP_CipherInit_ex2(ctx.get(), cipher.get(), nullptr, nullptr, direction, nullptr) != 1) {
    return std::nullopt;
  }
  if (entry.variableKey &&
      EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(KeyBytes().size())) != 1) {
    return std::nullopt;
  }
  if (cipher_ == CipherAlgorithm::kRc2 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_SET_RC2_KEY_BITS, effectiveBits_, nullptr) != 1) {
    return std::nullopt;
  }
  if (EVP_CipherInit_ex2(ctx.get(), nullptr, KeyBytes().data(),
                         entry.block ? zeroIv.data() : nullptr, direction, nullptr) != 1) {
    return std::nullopt;
  }

  Bytes out(data.size() + kBlockSize);
  int written = 0;
  int last = 0;
  if (EVP_CipherUpdate(ctx.get(), out.data(), &written, data.data(),
                       static_cast<int>(data.size())) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out.data() + written, &last) != 1) {
    Wipe(out);
    return std::nullopt;  // on decryption: bad padding, NTE_BAD_DATA on Windows
  }
  out.resize(static_cast<std::size_t>(written) + static_cast<std::size_t>(last));
  return out;
}

}  // namespace talvex::crypto
