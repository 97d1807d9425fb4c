// Windows-1252 <-> UTF-8 and UTF-8 <-> UTF-16 conversions of the text model.
#include "platform/ansi.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>

namespace talvex {

namespace {

// Code points of bytes 0x80..0x9F; the rest of the code page equals Latin-1. The five
// undefined bytes keep their C1 control code points so that every byte round-trips.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

constexpr char32_t kReplacement = 0xFFFD;

// Reads one code point at text[i], advancing i; malformed input yields U+FFFD and skips
// one byte.
inline char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  int extra = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return kReplacement;
  }
  if (i + static_cast<std::size_t>(extra) > text.size()) return kReplacement;
  for (int k = 0; k < extra; ++k) {
    const auto cont = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
    if ((cont & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (cont & 0x3F);
  }
  i += static_cast<std::size_t>(extra);
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

// The end of the run of ASCII bytes that starts at text[i]. Eight bytes are checked at a time,
// as most texts (and every hexadecimal body) are long runs of ASCII.
std::size_t AsciiRunEnd(std::string_view text, std::size_t i) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080U;
  constexpr std::size_t kWord = sizeof(std::uint64_t);
  while (i + kWord <= text.size()) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + i, kWord);
    if ((word & kHighBits) != 0) break;
    i += kWord;
  }
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  return i;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::optional<unsigned char> ToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<unsigned char>(cp);
  for (std::size_t k = 0; k < kHighControls.size(); ++k) {
    if (kHighControls[k] == cp) return static_cast<unsigned char>(0x80 + k);
  }
  return std::nullopt;
}

}  // namespace

namespace ansi {

std::string Encode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEncoded(out, text);
  return out;
}

void AppendEncoded(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {  // fast path: copy a whole ASCII run
      const std::size_t start = i;
      i = AsciiRunEnd(text, i);
      out.append(text, start, i - start);
      continue;
    }
    const auto mapped = ToCp1252(NextCodePoint(text, i));
    out += mapped ? static_cast<char>(*mapped) : '?';
  }
}

std::size_t EncodedLength(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      const std::size_t end = AsciiRunEnd(text, i);
      n += end - i;
      i = end;
    } else {
      NextCodePoint(text, i);
      ++n;
    }
  }
  return n;
}

std::string Decode(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else if (byte < 0xA0) {
      AppendUtf8(out, kHighControls[byte - 0x80]);
    } else {
      AppendUtf8(out, byte);
    }
  }
  return out;
}

}  // namespace ansi

namespace utf16 {

std::u16string FromUtf8(std::string_view text) {
  // Never more code units than bytes: sized once, filled through a pointer, trimmed.
  std::u16string out(text.size(), u'\0');
  char16_t* end = out.data();
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    if (cp < 0x10000) {
      *end++ = static_cast<char16_t>(cp);
    } else {
      const char32_t v = cp - 0x10000;
      *end++ = static_cast<char16_t>(0xD800 + (v >> 10));
      *end++ = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    }
  }
  out.resize(static_cast<std::size_t>(end - out.data()));
  return out;
}

std::string ToUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      const char32_t high = char32_t{u} - 0xD800U;
      const char32_t low = char32_t{units[i + 1]} - 0xDC00U;
      AppendUtf8(out, 0x10000U + (high << 10U) + low);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

// Counted in place: the long bodies that parameter checks measure would otherwise be copied
// to UTF-16 only to be counted.
std::size_t Length(std::string_view text) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      const std::size_t end = AsciiRunEnd(text, i);
      units += end - i;
      i = end;
    } else {
      units += NextCodePoint(text, i) < 0x10000 ? 1 : 2;
    }
  }
  return units;
}

std::string Prefix(const std::string& text, std::size_t limit) {
  const std::u16string units = FromUtf8(text);
  if (units.size() <= limit) return text;
  return ToUtf8(std::u16string_view(units).substr(0, limit));
}

}  // namespace utf16

}  // namespace talvex
