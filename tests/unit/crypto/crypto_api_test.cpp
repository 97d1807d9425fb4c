// CryptoAPI: conversions, digests, the encryption tables of both providers, passwords, random
// values and the provider-context rules; HashText.
#include "crypto/crypto_api.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <numeric>
#include <set>

#include "crypto/hash_text.hpp"

namespace talvex {
namespace {

using Bytes = CryptoAPI::ByteArray;

Bytes Arr(std::string_view byteText) {
  return CryptoAPI::StringToByteArray(byteText);
}

// One fresh object per operation, as the component uses the class; nullopt when it fails.
std::optional<Bytes> Transform(bool encrypt, bool enhanced, std::int16_t hash, std::int16_t cipher,
                               std::string_view password, const Bytes& input) {
  CryptoAPI api;
  api.EnhancedProvider(enhanced);
  Bytes passwordBytes = Arr(password);
  api.Password(passwordBytes);
  api.InputData(input);
  if (encrypt ? api.Encrypt(hash, cipher) : api.Decrypt(hash, cipher)) return api.OutputData();
  EXPECT_EQ(api.OutputData(), Bytes{0});
  return std::nullopt;
}

TEST(CryptoApi, ConversionsAndDigestForms) {
  EXPECT_EQ(Arr("abc"), (Bytes{'a', 'b', 'c', 0}));
  EXPECT_EQ(CryptoAPI::ByteArrayToString(Arr("ab ")), "ab ");
  EXPECT_EQ(CryptoAPI::ByteArrayToString(Bytes{0x41}), "");
  EXPECT_EQ(CryptoAPI::ByteArrayToString(Bytes{}), "");
  EXPECT_EQ(CryptoAPI::ConvertByteToHex(Bytes{0x0A, 0xFF, 0x20, 0x7F}), "0AFF20");
  EXPECT_EQ(CryptoAPI::ConvertStringToHex("\xFF\x01 ", false), "FF0120");
  // Every byte value, in order and with the NUL, against the C library's upper-case form.
  std::string allBytes;
  std::string expectedHex;
  for (int b = 0; b < 256; ++b) {
    allBytes += static_cast<char>(b);
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(b));
    expectedHex.append(pair);
  }
  EXPECT_EQ(CryptoAPI::ConvertStringToHex(allBytes), expectedHex);
  EXPECT_EQ(CryptoAPI::ConvertStringFromHex(expectedHex), allBytes);
  EXPECT_EQ(CryptoAPI::ConvertStringFromHex("ff20"), "\xFF ");
  EXPECT_EQ(CryptoAPI::ConvertStringFromHex("61626"), "");
  EXPECT_EQ(CryptoAPI::ConvertStringFromHex("4G"), std::string(1, '\x04'));
  EXPECT_EQ(CryptoAPI::ConvertStringFromHex("G4zz"), std::string(2, '\0'));

  // A raw digest ending in byte 32 keeps it (MD5 of "space109" ends in 0x20); the hexadecimal
  // form is checked with the key derivation sample below.
  CryptoAPI api;
  EXPECT_EQ(CryptoAPI::ConvertStringToHex(api.CreateHash("space109", 1)),
            "E218D170FF773A4F616E0A386D0FCD20");
  EXPECT_EQ(api.CreateHash("abc", 0, true), "");
  EXPECT_EQ(api.CreateHash("abc", 5, true), "");
  // HashText takes UTF-8 and hashes Windows-1252 bytes, as on Windows installations.
  EXPECT_EQ(HashText("caf\xC3\xA9"), api.CreateHash("caf\xE9", 1, true));
}

// Encrypt then Decrypt with a supported pair. Block ciphers fail below 4 bytes (the padding
// does not fit the 2n buffer); RC4 keeps the length; an empty ciphertext does not decrypt.
void ExpectRoundTrips(bool enhanced, std::int16_t hash, std::int16_t cipher) {
  for (const std::size_t n : {0, 1, 3, 4, 7, 8, 9, 1000}) {
    SCOPED_TRACE(n);
    const bool stream = cipher == 1;
    std::string plain(n, ' ');  // high bytes, and a space at the end
    for (std::size_t i = 0; i + 1 < n; ++i) plain[i] = static_cast<char>((i * 37 + 5) % 256);
    const auto sealed = Transform(true, enhanced, hash, cipher, "secret", Arr(plain));
    EXPECT_EQ(sealed.has_value(), stream || n >= 4);
    if (!sealed) continue;
    EXPECT_EQ(sealed->size() - 1, stream ? n : 8 * (n / 8 + 1));
    const auto opened = Transform(false, enhanced, hash, cipher, "secret", *sealed);
    EXPECT_EQ(opened.has_value(), n > 0);
    EXPECT_EQ(CryptoAPI::ByteArrayToString(opened.value_or(Bytes{})), n > 0 ? plain : "");
  }
}

// An unsupported pair fails both ways and resets the result of an earlier success.
void ExpectRefused(bool enhanced, std::int16_t hash, std::int16_t cipher) {
  CryptoAPI api;
  api.EnhancedProvider(enhanced);
  api.InputData(Arr("some data"));
  ASSERT_TRUE(api.Encrypt(1, 1));
  EXPECT_FALSE(api.Encrypt(hash, cipher));
  EXPECT_EQ(api.OutputData(), Bytes{0});
  EXPECT_FALSE(api.Decrypt(hash, cipher));
  EXPECT_EQ(api.OutputData(), Bytes{0});
}

// Hash codes 1-4 with cipher codes 1-3 (base provider) or 1-5 (enhanced); nothing else.
TEST(CryptoApi, EveryHashAndCipherPair) {
  for (const bool enhanced : {false, true}) {
    for (std::int16_t hash = 0; hash <= 5; ++hash) {
      for (std::int16_t cipher = 0; cipher <= 6; ++cipher) {
        SCOPED_TRACE(testing::Message()
                     << "enhanced " << enhanced << " hash " << hash << " cipher " << cipher);
        const bool supported =
            hash >= 1 && hash <= 4 && cipher >= 1 && cipher <= (enhanced ? 5 : 3);
        supported ? ExpectRoundTrips(enhanced, hash, cipher)
                  : ExpectRefused(enhanced, hash, cipher);
      }
    }
  }
}

// Microsoft's "Key Derivation Sample" (Win32 SDK; MSDN library 1998 and 2000): base provider,
// MD5 of the password "1134-kelp", RC4 keyed with the first five digest bytes and a zero salt,
// 32 bytes 00..1F encrypted. MD5 and RC4 on the base provider is what the transaction log uses.
TEST(CryptoApi, MicrosoftKeyDerivationSample) {
  EXPECT_EQ(CryptoAPI().CreateHash("1134-kelp", 1, true), "7340E6E274B8EA399395AA29D638B52A");
  Bytes input(33);  // 00..1F and the trailing 0
  std::iota(input.begin(), input.end() - 1, std::uint8_t{0});
  const auto sealed = Transform(true, false, 1, 1, "1134-kelp", input);
  ASSERT_TRUE(sealed);
  EXPECT_EQ(CryptoAPI::ConvertByteToHex(*sealed),
            "2659DE2444FA369C110CBB9DB6A2BD24042EE3BA7276F3278DD5B42F56CFF8C9");
}

// A password set is taken from the caller's array and appended by CreateHash. Without one,
// Encrypt stores the default (20 letters and punctuation, which CreateHash appends without
// storing); with UseDefaultPWD false, CreateHash appends a fresh random password each time and
// Encrypt keys from the digest of nothing.
TEST(CryptoApi, Passwords) {
  CryptoAPI set;
  Bytes password = Arr("pw");
  set.Password(password);
  EXPECT_TRUE(password.empty());
  EXPECT_EQ(set.CreateHash("abc", 1, true, true), set.CreateHash("abcpw", 1, true));
  EXPECT_EQ(set.Password(), Arr("pw"));

  CryptoAPI byDefault;
  byDefault.InputData(Arr("text"));
  ASSERT_TRUE(byDefault.Encrypt(1, 1));
  const Bytes stored = byDefault.Password();
  ASSERT_EQ(stored.size(), 21u);
  EXPECT_EQ(stored.back(), 0);
  EXPECT_TRUE(std::all_of(stored.begin(), stored.end() - 1,
                          [](unsigned char c) { return std::isalpha(c) || std::ispunct(c); }));
  CryptoAPI appending;
  EXPECT_EQ(
      appending.CreateHash("x", 1, true, true),
      appending.CreateHash(std::string("x").append(CryptoAPI::ByteArrayToString(stored)), 1, true));
  EXPECT_EQ(appending.Password(), Bytes{0});
  Bytes one{0};
  appending.Password(one);
  EXPECT_EQ(appending.Password(), stored);

  CryptoAPI none;
  none.UseDefaultPWD(false);
  EXPECT_NE(none.CreateHash("x", 1, true, true), none.CreateHash("x", 1, true, true));
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

TEST(CryptoApi, RandomLengthsAndAlphabets) {
  CryptoAPI api;
  EXPECT_EQ(api.CreateRandom(10, false, false).size(), 20u);  // the digest tail follows
  EXPECT_EQ(api.CreateRandom(10, true, false).size(), 10u);
  EXPECT_EQ(api.CreateRandom(30, false, false).size(), 30u);
  EXPECT_EQ(api.CreateRandom(10, true, true).size(), 10u);
  EXPECT_EQ(api.CreateRandom(-1, false, false), "");
  EXPECT_NE(api.CreateRandom(16, true, false), api.CreateRandom(16, true, false));
  const std::string hex = api.CreateRandom(10, false, true);
  EXPECT_EQ(hex.size(), 40u);
  EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(api.CreateSaltValue(16).size(), 16u);
  // Every symbol of the salt alphabet turns up in 2000 characters, and nothing else.
  const std::string salt = api.CreateSaltValue(2000, true);
  const std::string_view alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxy";
  EXPECT_EQ(salt.size(), 2000u);
  EXPECT_EQ(std::set<char>(salt.begin(), salt.end()),
            std::set<char>(alphabet.begin(), alphabet.end()));
}

// The provider context: acquired once and kept; a failed acquisition or table lookup forgets
// it, so the next operation acquires anew; its provider is the one chosen at acquisition.
TEST(CryptoApi, ContextAcquisitionRules) {
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

  // Acquired for the base provider, the context keeps its table (no triple DES) after the switch.
  api.EnhancedProvider(true);
  EXPECT_FALSE(api.Encrypt(1, 4));
}

}  // namespace
}  // namespace talvex
