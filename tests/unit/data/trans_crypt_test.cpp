// The protection of transaction-log texts: the ciphertext that Windows installations of the
// suite store, the default password, failures, and the reading of 16-bit character codes.
#include "data/trans_crypt.hpp"

#include <gtest/gtest.h>

#include "platform/failure.hpp"

namespace talvex {
namespace {

// The Windows base provider's RC4 under CryptDeriveKey of the MD5 digest of "secret": the
// first 5 digest bytes and 11 zero salt bytes key the cipher (40-bit key).
TEST(TransCrypt, KnownAnswerDefaultPasswordAndFailures) {
  EXPECT_EQ(EncryptText("Hello, World", "secret"), "47AF0E9668F602FD67097E17");
  EXPECT_EQ(DecryptText("47AF0E9668F602FD67097E17", "secret"), "Hello, World");
  const std::string text = "Grüße, €5";
  const std::string byDefault = EncryptText(text, "");
  ASSERT_EQ(byDefault.size(), 2 * 9u);  // one byte per Windows-1252 character
  EXPECT_EQ(EncryptText(text, "   "), byDefault);
  EXPECT_NE(EncryptText(text, "secret"), byDefault);
  EXPECT_EQ(DecryptText(byDefault, ""), text);
  EXPECT_NE(DecryptText(byDefault, "secret"), text);
  EXPECT_EQ(EncryptText("", "secret"), "");
  for (const char* hex : {"", "47A", "4"}) EXPECT_EQ(DecryptText(hex, "secret"), "") << hex;
}

TEST(TransCrypt, HexToTextReadsGroupsOfFourDigits) {
  const struct {
    const char* hex;
    const char* text;
  } cases[] = {{"", ""},          {"00410062", "Ab"}, {"20ac9A6C", "€\u9A6C"}, {"004100", "A"},
               {"0041062", "Ab"}, {"00410", "A"}};  // a tail of two digits is none, of three one
  for (const auto& c : cases) EXPECT_EQ(HexToText(c.hex), c.text) << c.hex;
  bool mismatch = false;
  try {
    HexToText("00G1");
  } catch (const Failure& failure) {
    mismatch = failure.Is(ErrorNumber::kTypeMismatch);
  }
  EXPECT_TRUE(mismatch);
}

}  // namespace
}  // namespace talvex
