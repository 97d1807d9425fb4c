// Byte buffer helpers of the crypto subsystem.
#include "crypto/bytes.hpp"

#include <openssl/crypto.h>

#include <array>
#include <cstring>

#include "platform/hex.hpp"

namespace talvex::crypto {

void Wipe(Bytes& bytes) {
  if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
  bytes.clear();
}

void Wipe(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
  text.clear();
}

std::span<const std::uint8_t> AsBytes(std::string_view byteText) {
  // char and unsigned char may alias each other, so viewing the text as bytes is defined.
  return {reinterpret_cast<const std::uint8_t*>(byteText.data()), byteText.size()};
}

Bytes ToBytes(std::string_view byteText) {
  const auto bytes = AsBytes(byteText);
  return Bytes(bytes.begin(), bytes.end());
}

std::string ToByteText(std::span<const std::uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

namespace {

// The two digits of every byte value, side by side.
constexpr std::array<char, 512> kDigitPairs = [] {
  std::array<char, 512> pairs{};
  for (std::size_t b = 0; b < 256; ++b) {
    pairs.at(2 * b) = hex::kDigits[b >> 4];
    pairs.at(2 * b + 1) = hex::kDigits[b & 0x0F];
  }
  return pairs;
}();

}  // namespace

// Sized once and filled a pair of digits at a time: appending digit by digit checks the
// capacity twice per byte, which showed in every transaction-log write (bodies are stored as
// hexadecimal).
std::string UpperHex(std::span<const std::uint8_t> bytes) {
  std::string out(bytes.size() * 2, '\0');
  char* digits = out.data();
  for (const std::uint8_t b : bytes) {
    std::memcpy(digits, &kDigitPairs[2 * std::size_t{b}], 2);
    digits += 2;
  }
  return out;
}

}  // namespace talvex::crypto
