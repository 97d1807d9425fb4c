// Session keys derived from a digest the way the Windows base and enhanced RSA providers
// derive them with no flags, and encryption and decryption of one final block with them
// (CBC with a zero IV and PKCS#5 padding for the block ciphers, RC4 from the start of its
// key stream). Data that the component enciphered on Windows installations must decrypt
// here byte for byte, and the other way round.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "crypto/bytes.hpp"
#include "crypto/digest.hpp"
#include "crypto/providers.hpp"

namespace talvex::crypto {

enum class CipherAlgorithm { kRc4, kRc2, kDes, kTripleDes, kTripleDes112 };

// Which provider's defaults apply: the base one keys RC2 and RC4 with 40 bits and offers no
// triple DES; the enhanced one uses 128-bit RC2 and RC4 keys and adds both triple DES forms.
enum class ProviderKind { kBase, kEnhanced };

// Cipher codes 1 RC4, 2 RC2, 3 DES for both providers; 4 triple DES and 5 two-key triple DES
// only in the enhanced table.
std::optional<CipherAlgorithm> CipherFromCode(std::int32_t code, ProviderKind table);

class SessionKey {
 public:
  // The key that the provider derives from hashValue, a digest made with hash. nullopt when
  // the provider does not offer the cipher or a digest of the key expansion fails.
  static std::optional<SessionKey> Derive(const Providers& providers, ProviderKind provider,
                                          CipherAlgorithm cipher, HashAlgorithm hash,
                                          std::span<const std::uint8_t> hashValue);

  // Encrypts data as the final block into a buffer of bufferLength bytes. Block ciphers
  // always pad, to 8 * (n / 8 + 1) bytes, and fail when that does not fit the buffer; RC4
  // gives n bytes and never checks the buffer.
  std::optional<Bytes> Encrypt(const Providers& providers, std::span<const std::uint8_t> data,
                               std::size_t bufferLength) const;
  // Decrypts data as the final block. Fails on empty data and, for block ciphers, on a length
  // that is not a multiple of 8 or on bad padding (what a wrong password gives).
  std::optional<Bytes> Decrypt(const Providers& providers,
                               std::span<const std::uint8_t> data) const;

  // The bytes the cipher is keyed with, salt included.
  const Bytes& KeyBytes() const { return key_.Get(); }

 private:
  SessionKey(CipherAlgorithm cipher, Bytes key, int effectiveBits)
      : cipher_(cipher), key_(std::move(key)), effectiveBits_(effectiveBits) {}

  std::optional<Bytes> Run(const Providers& providers, std::span<const std::uint8_t> data,
                           bool encrypt) const;

  CipherAlgorithm cipher_;
  WipedBytes key_;
  int effectiveBits_;
};

}  // namespace talvex::crypto
