// Hexadecimal digits as the component writes and reads them: upper case when written, either
// case when read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace talvex::hex {

inline constexpr std::string_view kDigits = "0123456789ABCDEF";

// Appends the byte as two digits, high nibble first.
inline void AppendByte(std::string& out, std::uint8_t byte) {
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

// The value of a hexadecimal digit, or -1 for any other character.
constexpr int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace talvex::hex
