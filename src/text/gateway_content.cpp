// Charset and transfer encoding of outbound gateway items.
#include "text/gateway_content.hpp"

#include "platform/ansi.hpp"
#include "platform/variant.hpp"
#include "text/codecs.hpp"

namespace talvex {

namespace {

constexpr std::string_view kEuroSign = "\xE2\x82\xAC";  // U+20AC in UTF-8
constexpr std::string_view kDefaultCharset = "Windows-1252";

// ContentType setting -> charset.
enum class Charset { kAsRequested, kLatin1, kUtf8 };

Charset ChosenCharset(const std::string& contentType) {
  switch (Variant(contentType).ToInt32()) {
    case 1:
      return Charset::kLatin1;
    case 2:
      return Charset::kUtf8;
    default:
      return Charset::kAsRequested;
  }
}

}  // namespace

std::string SubstituteEuro(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0;;) {
    const std::size_t euro = text.find(kEuroSign, at);
    out.append(text.substr(at, euro - at));
    if (euro == std::string_view::npos) break;
    out += "EUR";
    at = euro + kEuroSign.size();
  }
  return out;
}

GatewayContent ComposeGatewayContent(std::string_view requested, std::string body,
                                     const std::string& contentType,
                                     const std::string& transferEncoding) {
  // Encoded bodies are byte texts; they are kept as the text of those Windows-1252 bytes, so
  // that the wire form is exactly the encoder's output.
  std::string charset = "utf-8";
  const Charset choice = requested == kDefaultCharset ? ChosenCharset(contentType) : Charset::kUtf8;
  switch (choice) {
    case Charset::kAsRequested:
      charset = std::string(kDefaultCharset);
      break;
    case Charset::kLatin1:
      charset = "iso-8859-1";
      body = SubstituteEuro(body);
      break;
    case Charset::kUtf8:
      body = ansi::Decode(EncodeUTF8(body));
      break;
  }
  GatewayContent out;
  out.content = "text/plain; charset=\"" + charset + "\"";
  if (transferEncoding == "1") {
    out.content += "\r\nContent-Transfer-Encoding: quoted-printable";
    body = ansi::Decode(EncodeQuotedPrintable(ansi::Encode(body)));
  } else if (transferEncoding == "2") {
    out.content += "\r\nContent-Transfer-Encoding: base64";
    body = ansi::Decode(EncodeBase64(ansi::Encode(body)));
  }
  out.body = std::move(body);
  return out;
}

}  // namespace talvex
