// Session keys and their ciphertext against vectors published for the Windows providers, and
// the padding checks of decryption.
#include "crypto/session_key.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "crypto/bytes.hpp"

namespace talvex::crypto {
namespace {

// n bytes counting up from first, wrapping at 256: the data of the Wine provider tests.
Bytes Counting(std::size_t n, std::size_t first = 0) {
  Bytes out(n);
  for (std::size_t j = 0; j < n; ++j) out[j] = static_cast<std::uint8_t>((first + j) & 0xFF);
  return out;
}

// Keys the cipher with the digest of data and encrypts plain into a bufferLength buffer.
std::string EncryptHex(ProviderKind provider, CipherAlgorithm cipher, HashAlgorithm hash,
                       const Bytes& data, const Bytes& plain, std::size_t bufferLength) {
  const auto providers = SharedProviders();
  const auto digest = providers ? Digest(*providers, hash, data) : std::nullopt;
  const auto key =
      digest ? SessionKey::Derive(*providers, provider, cipher, hash, *digest) : std::nullopt;
  const auto out = key ? key->Encrypt(*providers, plain, bufferLength) : std::nullopt;
  return out ? UpperHex(*out) : "failed";
}

// Wine dlls/rsaenh/tests/rsaenh.c, test_key_derivation (enhanced provider, flags 0): row i
// digests 512 bytes (i + j) & 0xFF, derives the key, and encrypts the first 4 of those bytes.
// RC2 and RC4 rows: Windows XP and later (16-byte keys, 128 effective bits).
TEST(SessionKey, WineKeyDerivationRowsEnhanced) {
  using enum HashAlgorithm;
  using enum CipherAlgorithm;
  const std::tuple<std::size_t, HashAlgorithm, CipherAlgorithm, const char*, const char*> rows[] = {
      {0, kMd2, kDes, "BABF93AEBC7745AA7E4569E590E6047F", "5DDA25A6B5C443FB"},
      {1, kMd2, kTripleDes112, "DA4A9F5D2E7A3A4BBFDE475B068448A7", "6B183BA18927BFD4"},
      {2, kMd2, kTripleDes, "38E52E95A4A37388F81F87B774B1A156", "91AB17E5DA27117D"},
      {3, kMd2, kRc2, "7DA4B110432676B10DB6E69CA58BCBE6", "7D453D5600D7D154"},
      {4, kMd2, kRc4, "FF32F16962DEEB538CFFA69258A822EA", "A98373A9"},
      {12, kMd4, kDes, "E82F96C46CC191B4784056D8A025F571", "215ABD26B43E8604"},
      {13, kMd4, kTripleDes112, "23BB6FE4B0F635B6892FECDC06A9DF35", "9BE5D1EB8F130BB3"},
      {14, kMd4, kTripleDes, "E47248C66E382F00C92D0112B78B6409", "7D5EAAEA10A4A444"},
      {15, kMd4, kRc2, "BF54DA3A56720D9F307D2F5413B2D7C6", "77420ED260296F68"},
      {16, kMd4, kRc4, "9B746D2211160550A3756BB2388C2BC6", "5C7E9984"},
      {24, kMd5, kDes, "EA0147A07F96446B0D952C974B281C86", "F375CC7C6C0BCF93"},
      {25, kMd5, kTripleDes112, "D2A2D7873229F9E0450DEC8DB5BC8AD9", "5170E0B7000D3E21"},
      {26, kMd5, kTripleDes, "2B36A28585C0ECBE04561D978E82DBD8", "582375253F8825EB"},
      {27, kMd5, kRc2, "3B89723B8AD12E1344D6D097E6B846CD", "901C774587DD1C2E"},
      {28, kMd5, kRc4, "006DEFB1C8C6255E454F4E3DAF9C53D2", "C44CD2F1"},
      {36, kSha1, kDes, "C191F65A8187AC6D487C78F7EC37E20CECF7C0B8", "D4D8AA44AC5E0B8D"},
      {37, kSha1, kTripleDes112, "5D9BC399C4739078CB516B618ABE1AF37A90F334", "D81CBC6C92D309BF"},
      {38, kSha1, kTripleDes, "90B80189EC9A6CAD1EACB3170A44A24D80A52597", "BD585A8898F8699A"},
      {39, kSha1, kRc2, "42BDB8F2B5C2286485988E49E6DC9280CDC16300", "CCFB1A4D29AD3E65"},
      {40, kSha1, kRc4, "6736E9575ECD565E8B25352374BA2046D021DE0A", "7A343D3C"},
  };
  const auto providers = SharedProviders();
  ASSERT_NE(providers, nullptr);
  for (const auto& [i, hash, cipher, digest, encrypted] : rows) {
    const Bytes data = Counting(512, i);
    EXPECT_EQ(UpperHex(Digest(*providers, hash, data).value_or(Bytes{})), digest) << i;
    EXPECT_EQ(EncryptHex(ProviderKind::kEnhanced, cipher, hash, data, Counting(4, i), 512),
              encrypted)
        << i;
  }
}

// Wine rsaenh tests keyed with the MD2 digest of bytes 0..1999 (helper derive_key).
TEST(SessionKey, WineMd2KeyedVectors) {
  using enum CipherAlgorithm;
  using enum ProviderKind;
  const Bytes data = Counting(2000);
  const auto md2 = HashAlgorithm::kMd2;
  // test_block_cipher_modes (CBC): a 40-bit RC2 key with 11 zero salt bytes and 40 effective
  // bits, the base provider's default.
  EXPECT_EQ(EncryptHex(kBase, kRc2, md2, data, Counting(23), 24),
            "C09AE42F0A47671110F5DA614E3DABC09785011297A4F7D3");
  // test_des, both providers, ECB: the first block is the same in CBC with a zero IV.
  for (const ProviderKind provider : {kBase, kEnhanced}) {
    EXPECT_EQ(EncryptHex(provider, kDes, md2, data, Counting(13), 16).substr(0, 16),
              "58864246654B9262");
  }
  // test_3des112 and test_3des, enhanced provider, CBC; triple DES stretches the 16-byte
  // digest with the 0x36/0x5C expansion.
  EXPECT_EQ(EncryptHex(kEnhanced, kTripleDes112, md2, data, Counting(13), 16),
            "8E0C3CA305885F7A32A1065264D2441C");
  EXPECT_EQ(EncryptHex(kEnhanced, kTripleDes, md2, data, Counting(13), 16),
            "7BBADDA239D37BB3C751814153E8CFEB");
}

// RFC 6229: the RC4 key stream of the 128-bit key 0x0102...10 at offsets 0 and 16, keyed
// through a digest equal to that key (the enhanced provider takes 16 digest bytes as they are).
// Then DES decryption refuses damaged padding (Wine cTestData: the last byte inverted) and
// input that is not whole blocks.
TEST(SessionKey, Rc4KeyStreamAndBadCiphertext) {
  const auto providers = SharedProviders();
  ASSERT_NE(providers, nullptr);
  const auto rc4 = SessionKey::Derive(*providers, ProviderKind::kEnhanced, CipherAlgorithm::kRc4,
                                      HashAlgorithm::kMd5, Counting(16, 1));
  ASSERT_TRUE(rc4);
  EXPECT_EQ(UpperHex(rc4->Encrypt(*providers, Bytes(32, 0), 0).value_or(Bytes{})),
            "9AC7CC9A609D1EF7B2932899CDE41B975248C4959014126A6E8A84F11D1A9E1C");

  const auto des = SessionKey::Derive(*providers, ProviderKind::kBase, CipherAlgorithm::kDes,
                                      HashAlgorithm::kMd5, Counting(16));
  ASSERT_TRUE(des);
  const auto sealed = des->Encrypt(*providers, Counting(8), 16);
  ASSERT_TRUE(sealed);
  EXPECT_EQ(des->Decrypt(*providers, *sealed), Counting(8));
  Bytes damaged = *sealed;
  damaged.back() = static_cast<std::uint8_t>(~damaged.back());
  EXPECT_FALSE(des->Decrypt(*providers, damaged));
  EXPECT_FALSE(des->Decrypt(*providers, Bytes(sealed->begin(), sealed->end() - 1)));
}

}  // namespace
}  // namespace talvex::crypto
