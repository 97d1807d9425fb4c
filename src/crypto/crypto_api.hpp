// CryptoAPI: the component's cryptographic service object. Digests, password-based
// encryption and decryption of byte data, hexadecimal conversion, random bytes and salt
// texts. Callers create one object per use, set it up, call one operation and drop it.
//
// Texts: every text that a member takes or returns is a byte text, one character per byte
// (Windows-1252, the system's ANSI code page), so a character's code is its byte. Callers
// holding UTF-8 text convert it with ansi::Encode before it enters (StringToByteArray,
// CreateHash, ConvertStringToHex) and with ansi::Decode where a plain text comes back out
// (ByteArrayToString of a decrypted result); HashText does so for the session.
//
// Byte arrays: arrays that the class makes carry one extra element at the end, always 0, and
// the conversions back to text ignore the last element of any array.
//
// Nothing here raises for a cryptographic failure: texts come back empty, Encrypt and
// Decrypt return false with OutputData reset to one element 0.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/providers.hpp"
#include "crypto/session_key.hpp"

namespace talvex {

class CryptoAPI {
 public:
  using ByteArray = std::vector<std::uint8_t>;
  // Supplies the loaded providers when the object first needs a provider context; nullptr
  // means they cannot be loaded, and the operation that asked fails.
  using ProviderSource = std::function<std::shared_ptr<const crypto::Providers>()>;

  explicit CryptoAPI(ProviderSource source = crypto::SharedProviders);
  ~CryptoAPI();
  CryptoAPI(const CryptoAPI&) = delete;
  CryptoAPI& operator=(const CryptoAPI&) = delete;

  // Properties.
  // Stores the array's text form (all elements but the last) as the data to transform.
  void InputData(const ByteArray& arInData);
  // The result of the last Encrypt or Decrypt, with its trailing element; empty before any.
  ByteArray OutputData() const { return output_; }
  bool EnhancedProvider() const { return enhanced_; }
  void EnhancedProvider(bool blnUseEnhanced) { enhanced_ = blnUseEnhanced; }
  // With at least two elements the array becomes the password and the caller's array is
  // wiped and emptied; a shorter one selects the default password (UseDefaultPWD true) or
  // no password at all.
  void Password(ByteArray& arPWord);
  ByteArray Password() const { return password_; }
  void UseDefaultPWD(bool blnUseDefaultPWD) { useDefaultPassword_ = blnUseDefaultPWD; }

  // Conversions.
  // Elements 0..n-1 the bytes of the byte text, element n the trailing 0.
  static ByteArray StringToByteArray(std::string_view varInput);
  // The byte text of all elements but the last; empty for fewer than two elements.
  static std::string ByteArrayToString(const ByteArray& bytes);
  // The same elements as ByteArrayToString, two upper-case hexadecimal digits each.
  static std::string ConvertByteToHex(const ByteArray& bytes);
  // Two hexadecimal digits per byte, upper case whatever blnRetUppercase says.
  static std::string ConvertStringToHex(std::string_view strInput, bool blnRetUppercase = true);
  // Each pair of characters read as a hexadecimal number becomes one byte (a pair that is not
  // two digits gives the value of its leading digits, 0 without any); an odd-length text
  // gives an empty text.
  static std::string ConvertStringFromHex(std::string_view strHex);

  // Digests and random values.
  // The digest of the text (with the password appended when blnAppendPassword) as raw bytes,
  // or as upper-case hexadecimal when blnConvertToHex. Hash codes: 1 MD5, 2 MD4, 3 MD2,
  // 4 SHA-1. blnCaseSensitive has no effect. Empty on any failure.
  std::string CreateHash(std::string_view strInText = {}, std::int16_t intHashChoice = 0,
                         bool blnConvertToHex = false, bool blnAppendPassword = false,
                         bool blnCaseSensitive = false);
  // length random bytes, followed by the tail of the seed digest when length is below 20;
  // as hexadecimal when hex; cut to length characters when limit. Empty on failure.
  std::string CreateRandom(std::int32_t length, bool limit, bool hex);
  // A salt of lngReturnLength characters: digits, "A" to "Z" and "a" to "y" when
  // blnUseLettersNumbersOnly, otherwise random bytes.
  std::string CreateSaltValue(std::int32_t lngReturnLength = 0,
                              bool blnUseLettersNumbersOnly = false);
  // A pseudo-random number from low up to, not including, high.
  float Rnd2(float low, float high);

  // Encryption: transforms the input data with a key derived from the password's digest.
  // Hash codes as for CreateHash; cipher codes 1 RC4, 2 RC2, 3 DES, and with EnhancedProvider
  // 4 triple DES and 5 two-key triple DES. True when OutputData holds the result.
  bool Encrypt(std::int16_t intHashType = 0, std::int16_t intCipherType = 0);
  bool Decrypt(std::int16_t intHashType = 0, std::int16_t intCipherType = 0);

 private:
  // The provider context: the loaded providers and whose defaults (base or enhanced) it was
  // acquired with.
  struct ProviderContext {
    std::shared_ptr<const crypto::Providers> providers;
    crypto::ProviderKind kind;
  };

  bool AcquireContext();
  void ReleaseContext() { context_.reset(); }
  bool Transform(bool encrypt, std::int16_t hashCode, std::int16_t cipherCode);
  // The default password with its trailing 0, or, when useDefault is false, a fresh random
  // password of 20 letters and digits in the same form.
  ByteArray DefaultPassword(bool useDefault);
  std::optional<crypto::Bytes> DigestOf(crypto::HashAlgorithm hash,
                                        std::span<const std::uint8_t> data);

  ProviderSource source_;
  std::optional<ProviderContext> context_;
  bool enhanced_ = false;
  bool useDefaultPassword_ = true;
  ByteArray password_{0};
  std::string input_;
  ByteArray output_;
  std::optional<std::mt19937> generator_;  // Rnd2's, seeded on first use
};

}  // namespace talvex
