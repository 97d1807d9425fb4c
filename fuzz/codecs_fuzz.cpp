// The codecs and the conversions of the text model, on arbitrary bytes taken both as text
// (UTF-8, possibly malformed) and as byte text. Round trips where they hold: Windows-1252
// bytes decoded and encoded again; quoted-printable and base64 decoded again (by the small
// decoders here, as the component has none); the transaction log's hexadecimal form read
// back; UTF-16 and UTF-8 through each other. Sizes and ranges everywhere else.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "data/trans_crypt.hpp"
#include "fuzz_check.hpp"
#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "platform/hex.hpp"
#include "text/codecs.hpp"

namespace {

using talvex::fuzz::Check;
namespace ansi = talvex::ansi;
namespace utf16 = talvex::utf16;

bool AllBelow128(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string DecodeQuotedPrintable(std::string_view encoded) {
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '=') {
      out += encoded[i];
      continue;
    }
    Check(i + 2 < encoded.size(), "an escape has two digits");
    const int high = talvex::hex::DigitValue(encoded[i + 1]);
    const int low = talvex::hex::DigitValue(encoded[i + 2]);
    Check(high >= 0 && low >= 0, "an escape's digits are hexadecimal");
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

void CheckQuotedPrintable(std::string_view bytes) {
  const std::string encoded = talvex::EncodeQuotedPrintable(bytes);
  Check(AllBelow128(encoded), "quoted-printable is 7-bit");
  Check(encoded.find('\t') == std::string::npos, "quoted-printable escapes tabs");
  Check(DecodeQuotedPrintable(encoded) == bytes, "quoted-printable decodes to the bytes");
}

std::string DecodeBase64(std::string_view encoded) {
  std::array<int, 256> values{};
  values.fill(-1);
  for (std::uint8_t n = 0; n < 64; ++n) values[talvex::Base64Char(n)] = n;
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : encoded) {
    if (c == '\r' || c == '\n') continue;
    if (c == '=') break;
    const int value = values[static_cast<unsigned char>(c)];
    Check(value >= 0, "base64 holds only its alphabet, padding and line breaks");
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

void CheckBase64(std::string_view bytes) {
  const std::string encoded = talvex::EncodeBase64(bytes);
  std::string joined;
  std::string_view rest = encoded;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find("\r\n"), rest.size());
    Check(end > 0 && end <= 76 && end % 4 == 0, "base64 lines of up to 76 characters, in fours");
    Check(end == rest.size() || end == 76, "only the last line is short");
    joined.append(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 2, rest.size()));
  }
  Check(!encoded.ends_with("\r\n"), "no line break after the last line");
  Check(joined.size() == (bytes.size() + 2) / 3 * 4, "four characters for every three bytes");
  Check(DecodeBase64(encoded) == bytes, "base64 decodes to the bytes");
}

void CheckTextModel(std::string_view text, std::string_view bytes) {
  Check(ansi::Encode(ansi::Decode(bytes)) == bytes, "Windows-1252 bytes round-trip");
  const std::string encoded = ansi::Encode(text);
  Check(ansi::EncodedLength(text) == encoded.size(), "EncodedLength is Encode's size");
  const std::u16string units = utf16::FromUtf8(text);
  Check(utf16::Length(text) == units.size(), "Length counts the UTF-16 code units");
  const std::string normal = utf16::ToUtf8(units);
  Check(utf16::FromUtf8(normal) == units, "UTF-16 of well-formed UTF-8 round-trips");
  Check(ansi::Encode(normal) == encoded, "malformed sequences encode as U+FFFD would");
  for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, units.size() / 2}) {
    Check(utf16::Length(utf16::Prefix(std::string(text), limit)) == std::min(limit, units.size()),
          "a prefix has the code units asked for");
  }
}

void CheckHexForms(std::string_view text, std::string_view bytes) {
  const std::string hexText = talvex::TextToHex(text);
  Check(hexText.size() == 4 * utf16::Length(text), "four digits per code unit");
  Check(talvex::HexToText(hexText) == utf16::ToUtf8(utf16::FromUtf8(text)),
        "the hexadecimal form reads back as the text");
  try {
    const std::string read = talvex::HexToText(bytes);
    Check(utf16::Length(read) <= (bytes.size() + 1) / 4, "one character per group of digits");
  } catch (const talvex::Failure&) {
    // Not hexadecimal: the documented Type mismatch.
  }
}

void CheckUtf8Forms(std::string_view text, std::int32_t code) {
  const std::u16string units = utf16::FromUtf8(text);
  const bool plain = std::all_of(units.begin(), units.end(), [](char16_t u) {
    return u <= 0xFFFD && (u < 0xD800 || u > 0xDFFF);
  });
  const std::string utf8 = talvex::EncodeUTF8(text);
  if (plain) Check(utf8 == utf16::ToUtf8(units), "EncodeUTF8 of BMP text is its UTF-8");
  Check(utf8.size() <= 3 * units.size(), "at most three bytes per code unit");
  const std::string one = talvex::UTF8Bytes(code);
  const bool encodable = code >= 0x80 && code <= 0xFFFD;
  Check((one == "?") != encodable, "UTF8Bytes encodes exactly the codes 128 to 65533");
  Check(!encodable || one.size() == (code < 0x800 ? 2U : 3U), "two bytes up to 2047, three above");
}

void CheckBytes(std::uint8_t b, std::int16_t n) {
  const int count = std::min(std::abs(int{n}), 8);
  const int wide = n >= 0 ? (b << count) & 0xFF : b >> count;
  Check(talvex::ShiftLeftByte(b, n) == wide, "ShiftLeftByte");
  const auto mirrored = static_cast<std::int16_t>(n == INT16_MIN ? INT16_MAX : -n);
  Check(talvex::ShiftRightByte(b, mirrored) == wide, "ShiftRightByte is the left shift's mirror");
}

void CheckPadding(std::string_view text) {
  const std::size_t length = utf16::Length(text);
  const std::string two = talvex::PadZero2(text);
  const std::string four = talvex::PadZero4(text);
  Check(two.ends_with(text) && utf16::Length(two) == (length == 1 ? 2 : length), "PadZero2");
  Check(four.ends_with(text) && utf16::Length(four) == (length == 0 || length >= 4 ? length : 4),
        "PadZero4");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto code = input.ConsumeIntegral<std::int32_t>();
  const auto shifted = input.ConsumeIntegral<std::uint8_t>();
  const auto count = input.ConsumeIntegral<std::int16_t>();
  const std::string text = input.ConsumeRemainingBytesAsString();
  // The same bytes serve as a byte text.
  const std::string_view bytes = text;
  CheckQuotedPrintable(bytes);
  CheckBase64(bytes);
  CheckTextModel(text, bytes);
  CheckHexForms(text, bytes);
  CheckUtf8Forms(text, code);
  CheckBytes(shifted, count);
  CheckPadding(text);
  return 0;
}
