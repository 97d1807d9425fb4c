// Raw byte buffers of the crypto subsystem and their wiping. Keys, passwords and digests of
// passwords pass through these buffers; Wipe clears them before the memory is released.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvex::crypto {

using Bytes = std::vector<std::uint8_t>;

// Overwrites the buffer's content with zeros in a way the optimiser keeps, then empties it.
void Wipe(Bytes& bytes);
void Wipe(std::string& text);

// A byte text's characters as bytes, one to one (a view, or a copy), and back.
std::span<const std::uint8_t> AsBytes(std::string_view byteText);
Bytes ToBytes(std::string_view byteText);
std::string ToByteText(std::span<const std::uint8_t> bytes);

// Two upper-case hexadecimal digits per byte.
std::string UpperHex(std::span<const std::uint8_t> bytes);

// A byte buffer that wipes itself when it goes out of scope.
class WipedBytes {
 public:
  WipedBytes() = default;
  explicit WipedBytes(Bytes bytes) : bytes_(std::move(bytes)) {}
  WipedBytes(const WipedBytes&) = delete;
  WipedBytes& operator=(const WipedBytes&) = delete;
  WipedBytes(WipedBytes&& other) noexcept : bytes_(std::move(other.bytes_)) {}
  WipedBytes& operator=(WipedBytes&& other) noexcept {
    Wipe(bytes_);
    bytes_ = std::move(other.bytes_);
    return *this;
  }
  ~WipedBytes() { Wipe(bytes_); }

  const Bytes& Get() const { return bytes_; }
  Bytes& Get() { return bytes_; }

 private:
  Bytes bytes_;
};

}  // namespace talvex::crypto
