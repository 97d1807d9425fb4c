// The content encoders: boundary results, base64 checked against OpenSSL's encoder for every
// length, UTF-8 against the standard form of every BMP character.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>

#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "text/codecs.hpp"

namespace talvex {
namespace {

TEST(Base64, MatchesOpenSslInLinesOf76ForEveryLengthUpTo300) {
  std::mt19937 generator(7);
  for (std::size_t size = 0; size <= 300; ++size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    std::string plain(4 * ((size + 2) / 3) + 1, '\0');
    plain.resize(static_cast<std::size_t>(EVP_EncodeBlock(
        reinterpret_cast<unsigned char*>(plain.data()),
        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(size))));
    std::string expected;
    for (std::size_t at = 0; at < plain.size(); at += 76) {
      expected += (at > 0 ? "\r\n" : "") + plain.substr(at, 76);
    }
    EXPECT_EQ(EncodeBase64(bytes), expected) << size;
  }
}

// Only bytes from 128 up, "=" and tab are escaped; control bytes, spaces before a line end and
// long lines stay as they are (the served form of ordinary text is proven end to end).
TEST(QuotedPrintable, EscapesHighBytesEqualsAndTabOnly) {
  const std::string plain("\0\x01\x1F~\x7F\x80\xFF=\t \r\n", 12);
  EXPECT_EQ(EncodeQuotedPrintable(plain), std::string("\0\x01\x1F~\x7F=80=FF=3D=09 \r\n", 20));
}

TEST(Utf8, EncodesEachUtf16UnitByItself) {
  EXPECT_EQ(EncodeUTF8("\u9A6C"), "\xE9\xA9\xAC");
  EXPECT_EQ(EncodeUTF8("a\uFFFFb\uFFFE"), "a?b?");
  EXPECT_EQ(EncodeUTF8("\U0001F600"), "\xED\xA0\xBD\xED\xB8\x80");  // by surrogate halves
  EXPECT_EQ(UTF8Bytes(2048), "\xE0\xA0\x80");
  EXPECT_EQ(UTF8Bytes(65534), "?");
  EXPECT_EQ(UTF8Bytes(127), "?");
  // Every other BMP character comes out as standard UTF-8, also between runs of ASCII.
  std::u16string units;
  for (char32_t c = 0x20; c < 0xFFFE; ++c) {
    if (c < 0xD800 || c > 0xDFFF) units += static_cast<char16_t>(c);
    if (c % 7 == 0) units += u"ab";
  }
  const std::string text = utf16::ToUtf8(units);
  EXPECT_EQ(EncodeUTF8(text), text);
}

TEST(Hex, TextToHexAndByteHelpers) {
  EXPECT_EQ(TextToHex("Ab\u20AC\U0001F600"), "0041006220ACD83DDE00");
  EXPECT_EQ(PadZero4(""), "");
  EXPECT_EQ(PadZero4("A7"), "00A7");
  EXPECT_EQ(PadZero4("ABCDE"), "ABCDE");
  EXPECT_EQ(PadZero4("\u20AC"), "000\u20AC");  // one character of three bytes
  EXPECT_EQ(PadZero2("7") + PadZero2("AB"), "07AB");
  EXPECT_EQ(Base64Char(0), 'A');
  EXPECT_EQ(Base64Char(63), '/');
  EXPECT_THROW(Base64Char(64), Failure);
  EXPECT_EQ(ShiftLeftByte(0xFF, 2), 0xFC);
  EXPECT_EQ(ShiftLeftByte(1, 8), 0);
  EXPECT_EQ(ShiftRightByte(0xFF, 6), 3);
  EXPECT_EQ(ShiftRightByte(0x81, -1), 2);
}

}  // namespace
}  // namespace talvex
