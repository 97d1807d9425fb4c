// Encryption of transaction-log texts through CryptoAPI, one object per call, and the
// hexadecimal form that "Unicode" bodies are kept in, both ways.
#include "data/trans_crypt.hpp"

#include <charconv>

#include "crypto/crypto_api.hpp"
#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "text/codecs.hpp"

namespace talvex {

namespace {

constexpr std::int16_t kMd5 = 1;
constexpr std::int16_t kRc4 = 1;
constexpr std::size_t kHexGroup = 4;
// The shortest body that the suite's writers cannot convert: their signed 16-bit position
// overflows as it steps past the last character.
constexpr std::size_t kOverflowingBodyLength = 32767;

bool OnlySpaces(std::string_view text) {
  return text.find_first_not_of(' ') == std::string_view::npos;
}

}  // namespace

std::string EncryptText(std::string_view text, std::string_view password) {
  if (text.empty()) return {};
  CryptoAPI crypto;
  if (!OnlySpaces(password)) {
    CryptoAPI::ByteArray key = CryptoAPI::StringToByteArray(ansi::Encode(password));
    crypto.Password(key);
  }
  crypto.InputData(CryptoAPI::StringToByteArray(ansi::Encode(text)));
  crypto.EnhancedProvider(false);
  if (!crypto.Encrypt(kMd5, kRc4)) return {};
  const std::string cipher = CryptoAPI::ByteArrayToString(crypto.OutputData());
  // A ciphertext of nothing but spaces is taken for a failed encryption, as the suite's other
  // writers do; such a record then stores an empty text.
  if (OnlySpaces(cipher)) return {};
  return CryptoAPI::ConvertStringToHex(cipher);
}

std::string DecryptText(std::string_view hexText, std::string_view password) {
  CryptoAPI crypto;
  const std::string cipher = CryptoAPI::ConvertStringFromHex(hexText);
  // An empty password leaves a one-element array, which selects the default password.
  CryptoAPI::ByteArray key = CryptoAPI::StringToByteArray(ansi::Encode(password));
  crypto.Password(key);
  crypto.InputData(CryptoAPI::StringToByteArray(cipher));
  if (!crypto.Decrypt(kMd5, kRc4)) return {};
  return ansi::Decode(CryptoAPI::ByteArrayToString(crypto.OutputData()));
}

std::string BodyToHex(std::string_view body) {
  if (utf16::Length(body) >= kOverflowingBodyLength) RaiseRuntime(ErrorNumber::kOverflow);
  return TextToHex(body);
}

std::string HexToText(std::string_view hexText) {
  std::u16string units;
  // A group starts only where at least three digits remain, the rule of the suite's readers.
  for (std::size_t at = 0; at + 3 <= hexText.size(); at += kHexGroup) {
    const std::string_view group = hexText.substr(at, kHexGroup);
    std::uint16_t code = 0;
    const auto [end, error] = std::from_chars(group.data(), group.data() + group.size(), code, 16);
    if (error != std::errc() || end != group.data() + group.size()) {
      RaiseRuntime(ErrorNumber::kTypeMismatch);
    }
    units.push_back(static_cast<char16_t>(code));
  }
  return utf16::ToUtf8(units);
}

}  // namespace talvex
