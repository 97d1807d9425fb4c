// Known answers of the four digests. Longer messages of every algorithm are checked against
// Windows' digests with the key derivation vectors (session_key_test.cpp).
#include "crypto/digest.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "crypto/bytes.hpp"

namespace talvex::crypto {
namespace {

TEST(Digest, PublishedVectors) {
  using enum HashAlgorithm;
  const char* const digits =
      "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
  const std::tuple<HashAlgorithm, const char*, const char*> rows[] = {
      // RFC 1319 appendix A.5 (MD2, with its checksum correction).
      {kMd2, "", "8350E5A3E24C153DF2275C9F80692773"},
      {kMd2, "abc", "DA853B0D3F88D99B30283A69E6DED6BB"},
      {kMd2, digits, "D5976F79D83D3A0DC9806C3C66F3EFD8"},
      // RFC 1320 appendix A.5 (MD4).
      {kMd4, "", "31D6CFE0D16AE931B73C59D7E0C089C0"},
      {kMd4, "abc", "A448017AAF21D8525FC10AE87AA6729D"},
      {kMd4, digits, "E33B4DDC9C38F2199C3E7B164FCC0536"},
      // RFC 1321 appendix A.5 (MD5).
      {kMd5, "", "D41D8CD98F00B204E9800998ECF8427E"},
      {kMd5, "abc", "900150983CD24FB0D6963F7D28E17F72"},
      {kMd5, digits, "57EDF4A22BE3C955AC49DA2E2107B67A"},
      // FIPS 180 examples (SHA-1): one block and two blocks.
      {kSha1, "abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
      {kSha1, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
  };
  const auto providers = SharedProviders();
  ASSERT_NE(providers, nullptr);
  for (const auto& [algorithm, message, expected] : rows) {
    const auto digest = Digest(*providers, algorithm, AsBytes(message));
    EXPECT_EQ(digest ? UpperHex(*digest) : "failed", expected) << '"' << message;
  }
}

}  // namespace
}  // namespace talvex::crypto
