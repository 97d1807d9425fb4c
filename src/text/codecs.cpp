// The content encoders. Each sizes its output once and fills it through a pointer with table
// lookups: bodies of several megabytes pass through them when gateway items are stored.
#include "text/codecs.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "platform/hex.hpp"

namespace talvex {

namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase64Pad = '=';
constexpr std::size_t kBase64LineLength = 76;
constexpr std::size_t kBase64GroupsPerLine = kBase64LineLength / 4;
constexpr std::string_view kLineBreak = "\r\n";

// U+FFFE and U+FFFF are non-characters; they are sent as "?" instead.
constexpr char16_t kLastEncodableUnit = 0xFFFD;

// What quoted-printable writes for each byte: itself, or "=" and two hexadecimal digits for
// bytes above 127, "=" and tab. Kept four bytes wide so that a write is one unconditional
// copy; random binary bodies would otherwise mispredict on every other byte.
struct QuotedPrintableForm {
  std::array<char, 4> text;
  std::uint8_t length;
};
constexpr std::size_t kQuotedPrintableWidth = 4;

constexpr std::array<QuotedPrintableForm, 256> MakeQuotedPrintableForms() {
  std::array<QuotedPrintableForm, 256> forms{};
  for (std::size_t b = 0; b < forms.size(); ++b) {
    if (b > 127 || b == '=' || b == '\t') {
      forms[b] = {{'=', hex::kDigits[b >> 4], hex::kDigits[b & 0x0F], '\0'}, 3};
    } else {
      forms[b] = {{static_cast<char>(b), '\0', '\0', '\0'}, 1};
    }
  }
  return forms;
}
constexpr std::array<QuotedPrintableForm, 256> kQuotedPrintableForms = MakeQuotedPrintableForms();

unsigned char ByteAt(std::string_view bytes, std::size_t i) {
  return static_cast<unsigned char>(bytes[i]);
}

// Writes one UTF-16 code unit as UTF-8 by itself (a surrogate half as three bytes) and
// returns the end of what it wrote, at most three bytes.
inline char* PutUtf8Unit(char* out, char16_t unit) {
  if (unit < 0x80) {
    out[0] = static_cast<char>(unit);
    return out + 1;
  }
  if (unit < 0x800) {
    out[0] = static_cast<char>(0xC0 | (unit >> 6));
    out[1] = static_cast<char>(0x80 | (unit & 0x3F));
    return out + 2;
  }
  if (unit > kLastEncodableUnit) {
    out[0] = '?';
    return out + 1;
  }
  out[0] = static_cast<char>(0xE0 | (unit >> 12));
  out[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (unit & 0x3F));
  return out + 3;
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

std::uint64_t HighBitsOfWord(std::string_view bytes, std::size_t i) {
  std::uint64_t word;
  std::memcpy(&word, bytes.data() + i, sizeof word);
  return word & kHighBits;
}

// Length of the run of ASCII bytes at the start, eight bytes at a time where possible.
std::size_t AsciiRunLength(std::string_view bytes) {
  std::size_t i = 0;
  while (i + 8 <= bytes.size() && HighBitsOfWord(bytes, i) == 0) i += 8;
  while (i < bytes.size() && ByteAt(bytes, i) < 0x80) ++i;
  return i;
}

// Length of the run of non-ASCII bytes at the start, likewise.
std::size_t NonAsciiRunLength(std::string_view bytes) {
  std::size_t i = 0;
  while (i + 8 <= bytes.size() && HighBitsOfWord(bytes, i) == kHighBits) i += 8;
  while (i < bytes.size() && ByteAt(bytes, i) >= 0x80) ++i;
  return i;
}

void AppendUtf8Units(std::string& out, std::u16string_view units) {
  const std::size_t start = out.size();
  out.resize(start + 3 * units.size());
  char* end = out.data() + start;
  for (const char16_t unit : units) end = PutUtf8Unit(end, unit);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

// Writes the four base64 characters of three bytes.
char* PutBase64Group(char* out, const unsigned char* in) {
  const std::uint32_t group = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
  out[0] = kBase64Alphabet[group >> 18];
  out[1] = kBase64Alphabet[(group >> 12) & 0x3F];
  out[2] = kBase64Alphabet[(group >> 6) & 0x3F];
  out[3] = kBase64Alphabet[group & 0x3F];
  return out + 4;
}

// Writes the last one or two bytes as four characters with "=" padding.
char* PutBase64Tail(char* out, const unsigned char* in, std::size_t count) {
  const unsigned char padded[3] = {in[0], count > 1 ? in[1] : std::uint8_t{0}, 0};
  PutBase64Group(out, padded);
  out[3] = kBase64Pad;
  if (count == 1) out[2] = kBase64Pad;
  return out + 4;
}

char* PutLineBreak(char* out) {
  std::memcpy(out, kLineBreak.data(), kLineBreak.size());
  return out + kLineBreak.size();
}

}  // namespace

std::string EncodeUTF8(std::string_view text) {
  // ASCII runs are copied whole; each run of other bytes goes through the platform's UTF-16
  // conversion. Cutting the text before an ASCII byte decodes the same as the whole text,
  // since an ASCII byte can never continue a multi-byte sequence.
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const std::size_t ascii = AsciiRunLength(text);
    out.append(text.substr(0, ascii));
    text.remove_prefix(ascii);
    const std::size_t other = NonAsciiRunLength(text);
    if (other > 0) AppendUtf8Units(out, utf16::FromUtf8(text.substr(0, other)));
    text.remove_prefix(other);
  }
  return out;
}

std::string UTF8Bytes(std::int32_t code) {
  if (code < 0x80 || code > kLastEncodableUnit) return "?";
  char bytes[3];
  char* end = PutUtf8Unit(bytes, static_cast<char16_t>(code));
  return std::string(bytes, static_cast<std::size_t>(end - bytes));
}

std::string EncodeQuotedPrintable(std::string_view bytes) {
  std::size_t length = 0;
  for (const char c : bytes) length += kQuotedPrintableForms[static_cast<unsigned char>(c)].length;
  // Room for the last form's full four-byte copy; trimmed afterwards.
  std::string out(length + kQuotedPrintableWidth - 1, '\0');
  char* end = out.data();
  for (const char c : bytes) {
    const QuotedPrintableForm& form = kQuotedPrintableForms[static_cast<unsigned char>(c)];
    std::memcpy(end, form.text.data(), kQuotedPrintableWidth);
    end += form.length;
  }
  out.resize(length);
  return out;
}

std::string EncodeBase64(std::string_view bytes) {
  const std::size_t groups = bytes.size() / 3;
  const std::size_t rest = bytes.size() % 3;
  const std::size_t characters = 4 * (groups + (rest > 0 ? 1 : 0));
  const std::size_t lines = (characters + kBase64LineLength - 1) / kBase64LineLength;
  std::string out(characters + (lines > 0 ? kLineBreak.size() * (lines - 1) : 0), '\0');

  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  char* end = out.data();
  const char* const outEnd = out.data() + out.size();
  std::size_t group = 0;
  for (; group + kBase64GroupsPerLine <= groups; group += kBase64GroupsPerLine) {
    for (std::size_t k = 0; k < kBase64GroupsPerLine; ++k, in += 3) end = PutBase64Group(end, in);
    if (end != outEnd) end = PutLineBreak(end);
  }
  for (; group < groups; ++group, in += 3) end = PutBase64Group(end, in);
  if (rest > 0) PutBase64Tail(end, in, rest);
  return out;
}

std::string TextToHex(std::string_view text) {
  const std::u16string units = utf16::FromUtf8(text);
  std::string out(4 * units.size(), '\0');
  char* end = out.data();
  for (const char16_t unit : units) {
    for (int shift = 12; shift >= 0; shift -= 4) *end++ = hex::kDigits[(unit >> shift) & 0x0F];
  }
  return out;
}

std::uint8_t Base64Char(std::uint8_t n) {
  if (n >= kBase64Alphabet.size()) RaiseRuntime(ErrorNumber::kSubscriptOutOfRange);
  return static_cast<std::uint8_t>(kBase64Alphabet[n]);
}

std::uint8_t ShiftLeftByte(std::uint8_t b, std::int16_t n) {
  if (n < 0) return ShiftRightByte(b, static_cast<std::int16_t>(-std::max<int>(n, -8)));
  return n >= 8 ? 0 : static_cast<std::uint8_t>(b << n);
}

std::uint8_t ShiftRightByte(std::uint8_t b, std::int16_t n) {
  if (n < 0) return ShiftLeftByte(b, static_cast<std::int16_t>(-std::max<int>(n, -8)));
  return n >= 8 ? 0 : static_cast<std::uint8_t>(b >> n);
}

std::string PadZero2(std::string_view text) {
  // Appending, not "0" + std::string(text): GCC 12 at -O3 inlines that operator+ into an
  // insert at position 0 and wrongly warns that its memcpy may overlap (-Wrestrict).
  return utf16::Length(text) == 1 ? std::string("0").append(text) : std::string(text);
}

std::string PadZero4(std::string_view text) {
  const std::size_t length = utf16::Length(text);
  if (length == 0 || length >= 4) return std::string(text);
  return std::string(4 - length, '0') + std::string(text);
}

}  // namespace talvex
