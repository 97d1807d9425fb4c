// HashText: the session's digest of a text (password checks, message identifiers).
#pragma once

#include <string>
#include <string_view>

namespace talvex {

// The MD5 digest of the text's Windows-1252 bytes as 32 upper-case hexadecimal digits, the
// form stored in the user records. text is UTF-8. Never fails: any failure gives the empty
// text.
std::string HashText(std::string_view text) noexcept;

}  // namespace talvex
