// The protection of transaction-log texts: a subject or body is stored as the hexadecimal
// form of its RC4 ciphertext (40-bit key from the MD5 digest of the password, the base
// provider's derivation), so that records written by the suite's Windows installations and by
// this system read alike. Texts in and out are UTF-8; they are Windows-1252 bytes for the
// cipher, so a character outside that code page is stored as "?".
#pragma once

#include <string>
#include <string_view>

namespace talvex {

// The ciphertext of `text` as two upper-case hexadecimal digits per byte. A password that is
// empty or only spaces means the default password. Empty for an empty text and on any failure.
std::string EncryptText(std::string_view text, std::string_view password);

// The plain text of EncryptText's output under the same password; empty on any failure
// (empty or malformed hexadecimal included).
std::string DecryptText(std::string_view hexText, std::string_view password);

// TextToHex of a "Unicode" record's body. The suite's writers count the body's characters in
// signed 16 bits and fail on a body of 32 767 characters (UTF-16 code units) or more; this one
// keeps that limit, so that every writer stores the same records: raises Overflow.
std::string BodyToHex(std::string_view body);

// The reverse of TextToHex: each group of four hexadecimal digits is one 16-bit character
// code. A last group of three digits counts by those; one of one or two digits is ignored.
// Raises Type mismatch for a group that is not hexadecimal.
std::string HexToText(std::string_view hexText);

}  // namespace talvex
