// Known answers of the four digests: the RFC and FIPS test suites, and what the Windows
// providers give for the same data.
#include "crypto/digest.hpp"

#include <gtest/gtest.h>

#include "test_hex.hpp"

namespace talvex::crypto {
namespace {

using testing::LowerHex;

std::string HexDigest(HashAlgorithm algorithm, const Bytes& message) {
  const auto providers = SharedProviders();
  if (!providers) return "no providers";
  const auto digest = Digest(*providers, algorithm, message);
  return digest ? LowerHex(*digest) : "failed";
}

std::string HexDigest(HashAlgorithm algorithm, std::string_view text) {
  return HexDigest(algorithm, ToBytes(text));
}

// From the test suites of RFC 1319 (MD2, with its checksum correction), RFC 1320 (MD4) and
// RFC 1321 (MD5), appendix A.5 of each: empty, short, and whole 16-byte blocks.
TEST(Digest, RfcTestSuites) {
  struct Row {
    const char* message;
    const char* md2;
    const char* md4;
    const char* md5;
  };
  const Row rows[] = {
      {"", "8350e5a3e24c153df2275c9f80692773", "31d6cfe0d16ae931b73c59d7e0c089c0",
       "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "da853b0d3f88d99b30283a69e6ded6bb", "a448017aaf21d8525fc10ae87aa6729d",
       "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "ab4f496bfb2a530b219ff33031fe06b0", "d9130a8164549fe818874806e1c7014b",
       "f96b697d7cb7938d525a2f31aaf161d0"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "d5976f79d83d3a0dc9806c3c66f3efd8", "e33b4ddc9c38f2199c3e7b164fcc0536",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(HexDigest(HashAlgorithm::kMd2, row.message), row.md2) << '"' << row.message << '"';
    EXPECT_EQ(HexDigest(HashAlgorithm::kMd4, row.message), row.md4) << '"' << row.message << '"';
    EXPECT_EQ(HexDigest(HashAlgorithm::kMd5, row.message), row.md5) << '"' << row.message << '"';
  }
}

// FIPS 180 examples: the one-block "abc" and the two-block message. (Longer messages of every
// algorithm are checked against Windows' digests with the key derivation vectors.)
TEST(Digest, Sha1Fips180Examples) {
  EXPECT_EQ(HexDigest(HashAlgorithm::kSha1, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(
      HexDigest(HashAlgorithm::kSha1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
      "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}

}  // namespace
}  // namespace talvex::crypto
