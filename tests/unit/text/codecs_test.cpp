// The content encoders: known results, line structure, and round trips through independent
// decoders (OpenSSL's for base64, a small one here for quoted-printable).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "text/codecs.hpp"

namespace talvex {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
    lines.push_back(text.substr(start, pos - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

std::string DecodeBase64(const std::string& joined) {
  std::string decoded(joined.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                     reinterpret_cast<const unsigned char*>(joined.data()),
                                     static_cast<int>(joined.size()));
  if (length < 0) return "<invalid base64>";
  decoded.resize(static_cast<std::size_t>(length) -
                 (joined.size() - joined.find_last_not_of('=') - 1));
  return decoded;
}

TEST(Base64, KnownResultsAndLineStructure) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("Man"), "TWFu");
  EXPECT_EQ(EncodeBase64("Ma"), "TWE=");
  EXPECT_EQ(EncodeBase64("M"), "TQ==");
  std::string line;  // 57 bytes "xxx..." make one full line
  for (int k = 0; k < 19; ++k) line += "eHh4";
  EXPECT_EQ(EncodeBase64(std::string(57, 'x')), line);
  EXPECT_EQ(EncodeBase64(std::string(58, 'x')), line + "\r\neA==");
  EXPECT_EQ(EncodeBase64(std::string(114, 'x')), line + "\r\n" + line);
}

TEST(Base64, DecodesBackForEveryLengthUpTo300) {
  std::mt19937 generator(7);
  for (std::size_t size = 0; size <= 300; ++size) {
    SCOPED_TRACE(size);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    const std::vector<std::string> lines = SplitLines(EncodeBase64(bytes));
    std::string joined;
    for (std::size_t k = 0; k < lines.size(); ++k) {
      EXPECT_TRUE(k + 1 < lines.size() ? lines[k].size() == 76 : lines[k].size() <= 76);
      joined += lines[k];
    }
    EXPECT_EQ(DecodeBase64(joined), bytes);
  }
}

TEST(QuotedPrintable, EscapesHighBytesEqualsAndTabOnly) {
  EXPECT_EQ(EncodeQuotedPrintable(ansi::encode("Café = 5€")), "Caf=E9 =3D 5=80");
  EXPECT_EQ(EncodeQuotedPrintable(EncodeUTF8("é")), "=C3=A9");
  EXPECT_EQ(EncodeQuotedPrintable("\t"), "=09");
  const std::string plain = std::string(200, 'a') + " \r\nend \r\n";
  EXPECT_EQ(EncodeQuotedPrintable(plain), plain);

  std::string all, decoded;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string encoded = EncodeQuotedPrintable(all);
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    EXPECT_TRUE(encoded[i] != '\t' && static_cast<unsigned char>(encoded[i]) < 128);
    if (encoded[i] != '=') {
      decoded += encoded[i];
    } else {
      decoded += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  EXPECT_EQ(decoded, all);
}

TEST(Utf8, EncodesEachUtf16UnitByItself) {
  EXPECT_EQ(EncodeUTF8("A"), "A");
  EXPECT_EQ(EncodeUTF8("\xC3\xA9"), "\xC3\xA9");          // U+00E9
  EXPECT_EQ(EncodeUTF8("\xE2\x82\xAC"), "\xE2\x82\xAC");  // U+20AC
  EXPECT_EQ(EncodeUTF8("\xE9\xA9\xAC"), "\xE9\xA9\xAC");  // U+9A6C
  EXPECT_EQ(EncodeUTF8("a\xEF\xBF\xBF"
                       "b\xEF\xBF\xBE"),
            "a?b?");                                                      // U+FFFF, U+FFFE
  EXPECT_EQ(EncodeUTF8("\xF0\x9F\x98\x80"), "\xED\xA0\xBD\xED\xB8\x80");  // U+1F600 by halves
  EXPECT_EQ(UTF8Bytes(2048), "\xE0\xA0\x80");
  EXPECT_EQ(UTF8Bytes(65534), "?");
  EXPECT_EQ(UTF8Bytes(127), "?");

  // Every other BMP character comes out as standard UTF-8, also between runs of ASCII.
  std::u16string units;
  for (char32_t c = 0x20; c < 0xFFFE; ++c) {
    if (c < 0xD800 || c > 0xDFFF) units += static_cast<char16_t>(c);
    if (c % 7 == 0) units += u"ab";
  }
  const std::string text = utf16::toUtf8(units);
  EXPECT_EQ(EncodeUTF8(text), text);
}

TEST(Hex, TextToHexAndPaddingHelpers) {
  EXPECT_EQ(TextToHex("Ab"), "00410062");
  EXPECT_EQ(TextToHex("\xE2\x82\xAC"), "20AC");
  EXPECT_EQ(TextToHex("\xE9\xA9\xAC"), "9A6C");
  EXPECT_EQ(TextToHex("\xF0\x9F\x98\x80"), "D83DDE00");
  EXPECT_EQ(PadZero4(""), "");
  EXPECT_EQ(PadZero4("A7"), "00A7");
  EXPECT_EQ(PadZero4("ABCDE"), "ABCDE");
  EXPECT_EQ(PadZero4("\xE2\x82\xAC"), "000\xE2\x82\xAC");  // one character of three bytes
  EXPECT_EQ(PadZero2("7"), "07");
  EXPECT_EQ(PadZero2("AB"), "AB");
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
