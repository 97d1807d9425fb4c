// CryptoAPI: conversions, digests, the encryption tables of both providers, passwords, random
// values and the provider-context rules; HashText.
#include "crypto/crypto_api.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "crypto/hash_text.hpp"
#include "test_hex.hpp"

namespace talvex {
namespace {

using Bytes = CryptoAPI::ByteArray;

Bytes Arr(std::string_view byteText) {
  return CryptoAPI::StringToByteArray(byteText);
}

// One fresh object per operation, as the component uses the class.
struct Outcome {
  bool ok;
  Bytes output;
};
Outcome Transform(bool encrypt, bool enhanced, std::int16_t hash, std::int16_t cipher,
                  std::string_view password, const Bytes& input) {
  CryptoAPI api;
  api.EnhancedProvider(enhanced);
  Bytes passwordBytes = Arr(password);
  api.Password(passwordBytes);
  api.InputData(input);
  const bool ok = encrypt ? api.Encrypt(hash, cipher) : api.Decrypt(hash, cipher);
  return {ok, api.OutputData()};
}

// A byte text of n characters with high bytes in it and a space at the end.
std::string SampleText(std::size_t n) {
  std::string text(n, ' ');
  for (std::size_t i = 0; i + 1 < n; ++i) text[i] = static_cast<char>((i * 37 + 5) % 256);
  return text;
}

TEST(CryptoApiConversions, ByteArraysAndHex) {
  EXPECT_EQ(Arr("abc"), (Bytes{'a', 'b', 'c', 0}));
  EXPECT_EQ(Arr(""), Bytes{0});
  EXPECT_EQ(CryptoAPI::ByteArrayToString(Arr("ab ")), "ab ");
  EXPECT_EQ(CryptoAPI::ByteArrayToString(Bytes{0x41}), "");
  EXPECT_EQ(CryptoAPI::ByteArrayToString(Bytes{}), "");
  EXPECT_EQ(CryptoAPI::ConvertByteToHex(Bytes{0x0A, 0xFF, 0x20, 0x7F}), "0AFF20");
  EXPECT_EQ(CryptoAPI::ConvertStringToHex("abc"), "616263");
  EXPECT_EQ(CryptoAPI::ConvertStringToHex("\xFF\x01 ", false), "FF0120");
  EXPECT_EQ(CryptoAPI::ConvertStringFromHex("616263"), "abc");
  EXPECT_EQ(CryptoAPI::ConvertStringFromHex("ff20"), "\xFF ");
  EXPECT_EQ(CryptoAPI::ConvertStringFromHex("61626"), "");
  EXPECT_EQ(CryptoAPI::ConvertStringFromHex("4G"), std::string(1, '\x04'));
  EXPECT_EQ(CryptoAPI::ConvertStringFromHex("G4zz"), std::string(2, '\0'));
}

TEST(CryptoApiHash, DigestForms) {
  CryptoAPI api;
  EXPECT_EQ(api.CreateHash("abc", 1, true), "900150983CD24FB0D6963F7D28E17F72");
  // A raw digest ending in byte 32 keeps it (MD5 of "space109" ends in 0x20).
  const std::string raw = api.CreateHash("space109", 1);
  EXPECT_EQ(CryptoAPI::ConvertStringToHex(raw), "E218D170FF773A4F616E0A386D0FCD20");
  EXPECT_EQ(api.CreateHash("abc", 0, true), "");
  EXPECT_EQ(api.CreateHash("abc", 5, true), "");
  EXPECT_EQ(HashText("abc"), "900150983CD24FB0D6963F7D28E17F72");
  // UTF-8 in, Windows-1252 bytes hashed: as on Windows installations.
  EXPECT_EQ(HashText("caf\xC3\xA9"), api.CreateHash("caf\xE9", 1, true));
}

TEST(CryptoApiHash, AppendedPassword) {
  CryptoAPI api;
  Bytes password = Arr("pw");
  api.Password(password);
  EXPECT_TRUE(password.empty());
  EXPECT_EQ(api.CreateHash("abc", 1, true, true), api.CreateHash("abcpw", 1, true));
  EXPECT_EQ(api.Password(), Arr("pw"));
  // Without a password and without the default one, a fresh random password every time.
  CryptoAPI random;
  random.UseDefaultPWD(false);
  EXPECT_NE(random.CreateHash("x", 1, true, true), random.CreateHash("x", 1, true, true));
}

// Encrypt then Decrypt through every hash and cipher pair that each provider offers. Block
// ciphers fail for fewer than 4 bytes (the padding does not fit the 2n buffer); RC4 keeps the
// length, and an empty ciphertext cannot be decrypted.
TEST(CryptoApiEncryption, RoundTripsEveryPair) {
  for (const bool enhanced : {false, true}) {
    for (std::int16_t hash = 1; hash <= 4; ++hash) {
      const std::int16_t lastCipher = enhanced ? 5 : 3;
      for (std::int16_t cipher = 1; cipher <= lastCipher; ++cipher) {
        for (const std::size_t n : {0, 1, 3, 4, 7, 8, 9, 1000}) {
          SCOPED_TRACE(testing::Message() << "enhanced " << enhanced << " hash " << hash
                                          << " cipher " << cipher << " n " << n);
          const bool stream = cipher == 1;
          const std::string plain = SampleText(n);
          const Outcome sealed = Transform(true, enhanced, hash, cipher, "secret", Arr(plain));
          EXPECT_EQ(sealed.ok, stream || n >= 4);
          if (!sealed.ok) {
            EXPECT_EQ(sealed.output, Bytes{0});
            continue;
          }
          EXPECT_EQ(sealed.output.size() - 1, stream ? n : 8 * (n / 8 + 1));
          const Outcome opened = Transform(false, enhanced, hash, cipher, "secret", sealed.output);
          EXPECT_EQ(opened.ok, n > 0);
          if (n > 0) {
            EXPECT_EQ(CryptoAPI::ByteArrayToString(opened.output), plain);
          }
        }
      }
    }
  }
}

TEST(CryptoApiEncryption, UnsupportedPairsFail) {
  struct Case {
    bool enhanced;
    std::int16_t hash;
    std::int16_t cipher;
  };
  const Case cases[] = {{false, 1, 4}, {false, 1, 5}, {false, 0, 1}, {true, 5, 1},
                        {true, 1, 0},  {true, 1, 6},  {false, 4, 6}};
  for (const Case& c : cases) {
    CryptoAPI api;
    api.EnhancedProvider(c.enhanced);
    api.InputData(Arr("some data"));
    ASSERT_TRUE(api.Encrypt(1, 1));  // a previous result must not survive a failure
    EXPECT_FALSE(api.Encrypt(c.hash, c.cipher)) << c.hash << "/" << c.cipher;
    EXPECT_EQ(api.OutputData(), Bytes{0});
    EXPECT_FALSE(api.Decrypt(c.hash, c.cipher));
    EXPECT_EQ(api.OutputData(), Bytes{0});
  }
}

// Microsoft's "Key Derivation Sample" (Win32 SDK; MSDN library 1998 and 2000): base provider,
// MD5 of the password "1134-kelp", RC4 keyed with the first five digest bytes and a zero salt,
// 32 bytes 00..1F encrypted. MD5 and RC4 on the base provider is what the transaction log uses.
TEST(CryptoApiEncryption, MicrosoftKeyDerivationSample) {
  EXPECT_EQ(CryptoAPI().CreateHash("1134-kelp", 1, true), "7340E6E274B8EA399395AA29D638B52A");
  Bytes input = crypto::testing::Counting(32);
  input.push_back(0);
  const Outcome sealed = Transform(true, false, 1, 1, "1134-kelp", input);
  ASSERT_TRUE(sealed.ok);
  EXPECT_EQ(CryptoAPI::ConvertByteToHex(sealed.output),
            "2659DE2444FA369C110CBB9DB6A2BD24042EE3BA7276F3278DD5B42F56CFF8C9");
}

// Without a password, Encrypt stores the default one (20 letters and punctuation, which
// CreateHash appends without storing), or with UseDefaultPWD false keys from the digest of
// nothing.
TEST(CryptoApiEncryption, MissingPassword) {
  CryptoAPI byDefault;
  byDefault.InputData(Arr("text"));
  ASSERT_TRUE(byDefault.Encrypt(1, 1));
  const Bytes stored = byDefault.Password();
  ASSERT_EQ(stored.size(), 21u);
  EXPECT_EQ(stored.back(), 0);
  EXPECT_TRUE(std::all_of(stored.begin(), stored.end() - 1,
                          [](unsigned char c) { return std::isalpha(c) || std::ispunct(c); }));
  CryptoAPI appending;
  const std::string defaultText = CryptoAPI::ByteArrayToString(stored);
  EXPECT_EQ(appending.CreateHash("x", 1, true, true),
            appending.CreateHash("x" + defaultText, 1, true));
  EXPECT_EQ(appending.Password(), Bytes{0});
  Bytes one{0};
  appending.Password(one);
  EXPECT_EQ(appending.Password(), stored);

  CryptoAPI none;
  none.UseDefaultPWD(false);
  none.Password(one);
  EXPECT_EQ(none.Password(), Bytes{0});
  none.InputData(Arr("text"));
  ASSERT_TRUE(none.Encrypt(1, 1));
  using namespace crypto;
  const auto providers = SharedProviders();
  const auto key =
      SessionKey::Derive(*providers, ProviderKind::kBase, CipherAlgorithm::kRc4,
                         HashAlgorithm::kMd5, *Digest(*providers, HashAlgorithm::kMd5, {}));
  EXPECT_EQ(ToBytes(CryptoAPI::ByteArrayToString(none.OutputData())),
            key->Encrypt(*providers, ToBytes("text"), 8));
}

TEST(CryptoApiRandom, LengthsAndAlphabet) {
  CryptoAPI api;
  EXPECT_EQ(api.CreateRandom(10, false, false).size(), 20u);  // the digest tail follows
  EXPECT_EQ(api.CreateRandom(10, true, false).size(), 10u);
  EXPECT_EQ(api.CreateRandom(30, false, false).size(), 30u);
  const std::string hex = api.CreateRandom(10, false, true);
  EXPECT_EQ(hex.size(), 40u);
  EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(api.CreateRandom(10, true, true).size(), 10u);
  EXPECT_EQ(api.CreateRandom(-1, false, false), "");
  EXPECT_NE(api.CreateRandom(16, true, false), api.CreateRandom(16, true, false));
  EXPECT_EQ(api.CreateSaltValue(16).size(), 16u);

  const std::string salt = api.CreateSaltValue(40, true);
  EXPECT_EQ(salt.size(), 40u);
  EXPECT_EQ(salt.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxy"),
            std::string::npos);
  for (int i = 0; i < 2000; ++i) {
    const float r = api.Rnd2(48, 122);
    ASSERT_TRUE(r >= 48.0f && r < 122.0f) << r;
  }
}

// The provider context: acquired once and kept; a failed acquisition or table lookup
// forgets it so that the next operation acquires anew; its provider is the one chosen when
// it was acquired.
TEST(CryptoApiContext, AcquisitionRules) {
  int loads = 0;
  bool available = false;
  CryptoAPI api([&]() -> std::shared_ptr<const crypto::Providers> {
    ++loads;
    return available ? crypto::SharedProviders() : nullptr;
  });
  api.InputData(Arr("text"));
  EXPECT_EQ(api.CreateHash("abc", 1, true), "");
  EXPECT_FALSE(api.Encrypt(1, 1));
  EXPECT_EQ(api.OutputData(), Bytes{0});
  EXPECT_EQ(api.CreateRandom(8, true, false), "");
  EXPECT_EQ(loads, 3);

  available = true;
  EXPECT_NE(api.CreateHash("abc", 1, true), "");
  EXPECT_TRUE(api.Encrypt(1, 1));
  EXPECT_NE(api.CreateRandom(8, true, false), "");
  EXPECT_EQ(loads, 4);
  EXPECT_FALSE(api.Encrypt(1, 9));
  EXPECT_TRUE(api.Encrypt(1, 1));
  EXPECT_EQ(loads, 5);

  // Acquired for the base provider, the context keeps its keys even after the switch.
  api.EnhancedProvider(true);
  EXPECT_FALSE(api.Encrypt(1, 4));
  CryptoAPI enhanced;
  enhanced.EnhancedProvider(true);
  enhanced.InputData(Arr("text"));
  EXPECT_TRUE(enhanced.Encrypt(1, 4));
}

}  // namespace
}  // namespace talvex
