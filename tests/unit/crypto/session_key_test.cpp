// Session keys and their ciphertext against vectors published for the Windows providers, and
// the length and padding rules of their final-block encryption and decryption.
#include "crypto/session_key.hpp"

#include <gtest/gtest.h>

#include "test_hex.hpp"

namespace talvex::crypto {
namespace {

using testing::Counting;
using testing::LowerHex;

class SessionKeyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(providers_, nullptr); }

  std::optional<SessionKey> Key(ProviderKind provider, CipherAlgorithm cipher, HashAlgorithm hash,
                                const Bytes& hashValue) const {
    return SessionKey::Derive(*providers_, provider, cipher, hash, hashValue);
  }
  // Derives from the digest of data and encrypts plain into a buffer of bufferLength bytes.
  std::string EncryptHex(ProviderKind provider, CipherAlgorithm cipher, HashAlgorithm hash,
                         const Bytes& data, const Bytes& plain, std::size_t bufferLength) const {
    const auto digest = Digest(*providers_, hash, data);
    if (!digest) return "no digest";
    const auto key = Key(provider, cipher, hash, *digest);
    if (!key) return "no key";
    const auto out = key->Encrypt(*providers_, plain, bufferLength);
    return out ? LowerHex(*out) : "failed";
  }

  std::shared_ptr<const Providers> providers_ = SharedProviders();
};

// Wine dlls/rsaenh/tests/rsaenh.c, test_key_derivation (enhanced provider, flags 0): row i
// digests 512 bytes (i + j) & 0xFF, derives the key, and encrypts the first 4 of those bytes.
// The RC2 and RC4 rows are the values of Windows XP and later (16-byte keys, 128 effective
// bits).
TEST_F(SessionKeyTest, WineKeyDerivationRowsEnhanced) {
  using enum HashAlgorithm;
  using enum CipherAlgorithm;
  struct Row {
    std::size_t i;
    HashAlgorithm hash;
    CipherAlgorithm cipher;
    const char* digest;
    const char* encrypted;
  };
  const Row rows[] = {
      {0, kMd2, kDes, "babf93aebc7745aa7e4569e590e6047f", "5dda25a6b5c443fb"},
      {1, kMd2, kTripleDes112, "da4a9f5d2e7a3a4bbfde475b068448a7", "6b183ba18927bfd4"},
      {2, kMd2, kTripleDes, "38e52e95a4a37388f81f87b774b1a156", "91ab17e5da27117d"},
      {3, kMd2, kRc2, "7da4b110432676b10db6e69ca58bcbe6", "7d453d5600d7d154"},
      {4, kMd2, kRc4, "ff32f16962deeb538cffa69258a822ea", "a98373a9"},
      {12, kMd4, kDes, "e82f96c46cc191b4784056d8a025f571", "215abd26b43e8604"},
      {13, kMd4, kTripleDes112, "23bb6fe4b0f635b6892fecdc06a9df35", "9be5d1eb8f130bb3"},
      {14, kMd4, kTripleDes, "e47248c66e382f00c92d0112b78b6409", "7d5eaaea10a4a444"},
      {15, kMd4, kRc2, "bf54da3a56720d9f307d2f5413b2d7c6", "77420ed260296f68"},
      {16, kMd4, kRc4, "9b746d2211160550a3756bb2388c2bc6", "5c7e9984"},
      {24, kMd5, kDes, "ea0147a07f96446b0d952c974b281c86", "f375cc7c6c0bcf93"},
      {25, kMd5, kTripleDes112, "d2a2d7873229f9e0450dec8db5bc8ad9", "5170e0b7000d3e21"},
      {26, kMd5, kTripleDes, "2b36a28585c0ecbe04561d978e82dbd8", "582375253f8825eb"},
      {27, kMd5, kRc2, "3b89723b8ad12e1344d6d097e6b846cd", "901c774587dd1c2e"},
      {28, kMd5, kRc4, "006defb1c8c6255e454f4e3daf9c53d2", "c44cd2f1"},
      {36, kSha1, kDes, "c191f65a8187ac6d487c78f7ec37e20cecf7c0b8", "d4d8aa44ac5e0b8d"},
      {37, kSha1, kTripleDes112, "5d9bc399c4739078cb516b618abe1af37a90f334", "d81cbc6c92d309bf"},
      {38, kSha1, kTripleDes, "90b80189ec9a6cad1eacb3170a44a24d80a52597", "bd585a8898f8699a"},
      {39, kSha1, kRc2, "42bdb8f2b5c2286485988e49e6dc9280cdc16300", "ccfb1a4d29ad3e65"},
      {40, kSha1, kRc4, "6736e9575ecd565e8b25352374ba2046d021de0a", "7a343d3c"},
  };
  for (const Row& row : rows) {
    const Bytes data = Counting(512, row.i);
    const auto digest = Digest(*providers_, row.hash, data);
    ASSERT_TRUE(digest) << "row " << row.i;
    EXPECT_EQ(LowerHex(*digest), row.digest) << "row " << row.i;
    EXPECT_EQ(EncryptHex(ProviderKind::kEnhanced, row.cipher, row.hash, data, Counting(4, row.i),
                         data.size()),
              row.encrypted)
        << "row " << row.i;
  }
}

// Wine rsaenh tests keyed with the MD2 digest of bytes 0..1999 (helper derive_key).
TEST_F(SessionKeyTest, WineMd2KeyedVectors) {
  using enum CipherAlgorithm;
  const Bytes data = Counting(2000);
  const auto md2 = HashAlgorithm::kMd2;
  // test_block_cipher_modes (CBC): a 40-bit RC2 key with 11 zero salt bytes and
  // 40 effective bits, the base provider's default.
  EXPECT_EQ(EncryptHex(ProviderKind::kBase, kRc2, md2, data, Counting(23), 24),
            "c09ae42f0a476711"
            "10f5da614e3dabc0"
            "97850112"
            "97a4f7d3");
  // test_des, run on both providers in ECB mode: the first block is the same in CBC with a
  // zero IV.
  for (const ProviderKind provider : {ProviderKind::kBase, ProviderKind::kEnhanced}) {
    EXPECT_EQ(EncryptHex(provider, kDes, md2, data, Counting(13), 16).substr(0, 16),
              "58864246654b9262");
  }
  // test_3des112 and test_3des, enhanced provider, CBC; triple DES stretches the 16-byte
  // digest with the 0x36/0x5C expansion.
  EXPECT_EQ(EncryptHex(ProviderKind::kEnhanced, kTripleDes112, md2, data, Counting(13), 16),
            "8e0c3ca305885f7a32a1065264d2441c");
  EXPECT_EQ(EncryptHex(ProviderKind::kEnhanced, kTripleDes, md2, data, Counting(13), 16),
            "7bbadda239d37bb3c751814153e8cfeb");
}

// RFC 6229: the RC4 key stream of the 128-bit key 0x0102...10 at offsets 0 and 16, keyed
// through a digest equal to that key (the enhanced provider takes 16 digest bytes as they are).
TEST_F(SessionKeyTest, Rc4PublishedKeyStream) {
  const auto rc4 =
      Key(ProviderKind::kEnhanced, CipherAlgorithm::kRc4, HashAlgorithm::kMd5, Counting(16, 1));
  ASSERT_TRUE(rc4);
  const auto stream = rc4->Encrypt(*providers_, Bytes(32, 0), 0);
  ASSERT_TRUE(stream);
  EXPECT_EQ(LowerHex(*stream),
            "9ac7cc9a609d1ef7b2932899cde41b97"
            "5248c4959014126a6e8a84f11d1a9e1c");
}

// Decryption refuses damaged padding (Wine cTestData: the last byte inverted), empty input
// and input that is not whole blocks.
TEST_F(SessionKeyTest, DecryptionRejectsBadInput) {
  const auto des =
      Key(ProviderKind::kBase, CipherAlgorithm::kDes, HashAlgorithm::kMd5, Counting(16));
  ASSERT_TRUE(des);
  const auto sealed = des->Encrypt(*providers_, Counting(8), 16);
  ASSERT_TRUE(sealed);
  EXPECT_EQ(des->Decrypt(*providers_, *sealed), Counting(8));
  Bytes damaged = *sealed;
  damaged.back() = static_cast<std::uint8_t>(~damaged.back());
  EXPECT_FALSE(des->Decrypt(*providers_, damaged));
  EXPECT_FALSE(des->Decrypt(*providers_, Bytes{}));
  EXPECT_FALSE(des->Decrypt(*providers_, Bytes(sealed->begin(), sealed->end() - 1)));
}

}  // namespace
}  // namespace talvex::crypto
