// The text model's two kinds of std::string: text (UTF-8) and byte text (one byte per
// character in Windows-1252, as on the POP3 wire and in the codecs). Convert only at those
// boundaries, with these functions.
#pragma once

#include <string>
#include <string_view>

namespace talvex::ansi {

// UTF-8 text to Windows-1252 bytes. Characters the code page lacks become "?"; malformed
// UTF-8 sequences become "?" as well.
std::string Encode(std::string_view text);
// The same, appended to `out`: a reply is composed on the wire buffer without a copy. Malformed
// sequences never swallow an ASCII byte, so texts joined at ASCII characters may be encoded
// piece by piece.
void AppendEncoded(std::string& out, std::string_view text);

// Windows-1252 bytes to UTF-8 text. Every byte maps to a character (the five bytes the code
// page leaves undefined map to the C1 controls of the same value), so decode then encode
// gives back the bytes exactly.
std::string Decode(std::string_view bytes);

// The number of octets Encode(text) produces, without building it.
std::size_t EncodedLength(std::string_view text);

}  // namespace talvex::ansi

namespace talvex::utf16 {

// UTF-8 text to UTF-16 code units (malformed sequences become U+FFFD).
std::u16string FromUtf8(std::string_view text);

// UTF-16 code units to UTF-8 text; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view units);

// The text's length in UTF-16 code units: how the database and the codecs count characters.
std::size_t Length(std::string_view text);

// The text's first `limit` UTF-16 code units, as UTF-8; the whole text when it has no more.
std::string Prefix(const std::string& text, std::size_t limit);

}  // namespace talvex::utf16
