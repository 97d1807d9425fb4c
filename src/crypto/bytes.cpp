// Byte buffer helpers of the crypto subsystem.
#include "crypto/bytes.hpp"

#include <openssl/crypto.h>

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
  std::string out(bytes.size(), '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<char>(bytes[i]);
  return out;
}

std::string UpperHex(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) hex::AppendByte(out, b);
  return out;
}

}  // namespace talvex::crypto
