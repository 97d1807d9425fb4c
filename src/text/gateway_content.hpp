// The MIME description of an outbound gateway item and its body in the charset and transfer
// encoding that the description announces, so that the stored item can be served as mail
// without further work.
#pragma once

#include <string>
#include <string_view>

namespace talvex {

// The text with every euro sign replaced by "EUR" (iso-8859-1 has no euro sign).
std::string SubstituteEuro(std::string_view text);

struct GatewayContent {
  std::string content;  // e.g. text/plain; charset="utf-8" CR LF Content-Transfer-Encoding: base64
  std::string body;     // text whose Windows-1252 bytes are the encoded body
};

// Composes the content description and encodes the body. `requested` is the caller's content
// value: exactly "Windows-1252" lets the settings choose the charset, anything else means
// "utf-8". `contentType` is the ContentType setting (read as a number; a text that is not one
// raises a type mismatch), `transferEncoding` the ContTransEncoding setting (exact text "1"
// quoted-printable, "2" base64). `body` is UTF-8 text.
GatewayContent ComposeGatewayContent(std::string_view requested, std::string body,
                                     const std::string& contentType,
                                     const std::string& transferEncoding);

}  // namespace talvex
