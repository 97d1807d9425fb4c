// Content codecs: the encoders that put gateway item bodies into the transfer form their
// headers announce (UTF-8, quoted-printable, base64), the hexadecimal form of texts that the
// transaction log stores, and the small byte helpers under them. Plain functions, no state,
// no decoders, no length limit.
//
// Argument kinds (see platform/ansi.hpp for the text model):
//  - EncodeUTF8, TextToHex, PadZero2 and PadZero4 take a text (UTF-8) and count its
//    characters as UTF-16 code units.
//  - EncodeQuotedPrintable and EncodeBase64 take a byte text (one byte per character,
//    Windows-1252): pass ansi::Encode(text) for the "windows-1252" charset, or the output of
//    EncodeUTF8 for "utf-8".
//  - Every encoder returns a byte text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace talvex {

// The text's UTF-16 code units, each written as UTF-8 by itself: code units up to 127 stay
// as they are, the others become UTF8Bytes of their code. A character beyond U+FFFF thus
// becomes two three-byte sequences, one per surrogate half; U+FFFE and U+FFFF become "?".
std::string EncodeUTF8(std::string_view text);

// The UTF-8 bytes of one code from 128 to 65533: two bytes up to 2047, three above. Any
// other code (below 128, the non-characters U+FFFE and U+FFFF, or beyond 16 bits) gives "?".
std::string UTF8Bytes(std::int32_t code);

// Quoted-printable without soft line breaks: bytes above 127, "=" and tab become "=" and
// two upper-case hexadecimal digits; every other byte, CR and LF included, stays as it is.
std::string EncodeQuotedPrintable(std::string_view bytes);

// MIME base64 in lines of 76 characters with CR LF between them and none after the last.
std::string EncodeBase64(std::string_view bytes);

// Four upper-case hexadecimal digits per UTF-16 code unit of the text ("Ab" gives
// "00410062", "€" gives "20AC").
std::string TextToHex(std::string_view text);

// The byte value of the base64 alphabet character at index n (0 gives 'A', 63 gives '/');
// an index above 63 raises the subscript-out-of-range Failure.
std::uint8_t Base64Char(std::uint8_t n);

// The low 8 bits of b * 2^n, and b / 2^n rounded down; 0 for counts of 8 or more. A negative
// count shifts the other way.
std::uint8_t ShiftLeftByte(std::uint8_t b, std::int16_t n);
std::uint8_t ShiftRightByte(std::uint8_t b, std::int16_t n);

// "0" before a text of exactly one character, else the text unchanged.
std::string PadZero2(std::string_view text);
// Leading "0"s up to four characters; texts that are empty or have four or more characters
// stay unchanged.
std::string PadZero4(std::string_view text);

}  // namespace talvex
