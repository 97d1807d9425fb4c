// MD2 after RFC 1319, with the published correction to its checksum step: each checksum byte
// is XORed with S[c XOR L] (the RFC's prose says "set C[j] to S[c xor L]", which would drop the
// checksum carried from earlier blocks). Speed is not a concern: MD2 digests short passwords.
#include "crypto/md2.hpp"

namespace talvex::crypto {

namespace {

// The RFC's permutation of 0..255 built from the digits of pi.
constexpr std::array<std::uint8_t, 256> kPiSubst = {
    41,  46,  67,  201, 162, 216, 124, 1,   61,  54,  84,  161, 236, 240, 6,   19,  98,  167, 5,
    243, 192, 199, 115, 140, 152, 147, 43,  217, 188, 76,  130, 202, 30,  155, 87,  60,  253, 212,
    224, 22,  103, 66,  111, 24,  138, 23,  229, 18,  190, 78,  196, 214, 218, 158, 222, 73,  160,
    251, 245, 142, 187, 47,  238, 122, 169, 104, 121, 145, 21,  178, 7,   63,  148, 194, 16,  137,
    11,  34,  95,  33,  128, 127, 93,  154, 90,  144, 50,  39,  53,  62,  204, 231, 191, 247, 151,
    3,   255, 25,  48,  179, 72,  165, 181, 209, 215, 94,  146, 42,  172, 86,  170, 198, 79,  184,
    56,  210, 150, 164, 125, 182, 118, 252, 107, 226, 156, 116, 4,   241, 69,  157, 112, 89,  100,
    113, 135, 32,  134, 91,  207, 101, 230, 45,  168, 2,   27,  96,  37,  173, 174, 176, 185, 246,
    28,  70,  97,  105, 52,  64,  126, 15,  85,  71,  163, 35,  221, 81,  175, 58,  195, 92,  249,
    206, 186, 197, 234, 38,  44,  83,  13,  110, 133, 40,  132, 9,   211, 223, 205, 244, 65,  129,
    77,  82,  106, 220, 55,  200, 108, 193, 171, 250, 36,  225, 123, 8,   12,  189, 177, 74,  120,
    136, 149, 139, 227, 99,  232, 109, 233, 203, 213, 254, 59,  0,   29,  57,  242, 239, 183, 14,
    102, 88,  208, 228, 166, 119, 114, 248, 235, 117, 75,  10,  49,  68,  80,  180, 143, 237, 31,
    26,  219, 153, 141, 51,  159, 17,  131, 20,
};

constexpr std::size_t kBlock = 16;
using Block = std::array<std::uint8_t, kBlock>;

class Md2State {
 public:
  void Absorb(const Block& block) {
    // Checksum (with the correction), then the 18-round compression of the 48-byte state.
    for (std::size_t j = 0; j < kBlock; ++j) {
      checksum_[j] ^= kPiSubst[block[j] ^ last_];
      last_ = checksum_[j];
    }
    Compress(block);
  }

  Md2Digest Finish() {
    const Block checksum = checksum_;
    Compress(checksum);
    Md2Digest out{};
    for (std::size_t j = 0; j < kBlock; ++j) out[j] = x_[j];
    return out;
  }

 private:
  void Compress(const Block& block) {
    for (std::size_t j = 0; j < kBlock; ++j) {
      x_[kBlock + j] = block[j];
      x_[2 * kBlock + j] = static_cast<std::uint8_t>(block[j] ^ x_[j]);
    }
    std::uint8_t t = 0;
    for (std::uint8_t round = 0; round < 18; ++round) {
      for (std::uint8_t& v : x_) t = v ^= kPiSubst[t];
      t = static_cast<std::uint8_t>(t + round);
    }
  }

  std::array<std::uint8_t, 3 * kBlock> x_{};
  Block checksum_{};
  std::uint8_t last_ = 0;
};

}  // namespace

Md2Digest Md2(std::span<const std::uint8_t> message) {
  Md2State state;
  Block block{};
  std::size_t offset = 0;
  for (; offset + kBlock <= message.size(); offset += kBlock) {
    for (std::size_t j = 0; j < kBlock; ++j) block[j] = message[offset + j];
    state.Absorb(block);
  }
  // Padding: i bytes of value i, 1 <= i <= 16, always added.
  const std::size_t rest = message.size() - offset;
  const auto pad = static_cast<std::uint8_t>(kBlock - rest);
  for (std::size_t j = 0; j < kBlock; ++j) block[j] = j < rest ? message[offset + j] : pad;
  state.Absorb(block);
  return state.Finish();
}

}  // namespace talvex::crypto
