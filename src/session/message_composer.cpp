// Header blocks, sizes and identifiers of served items, and the TOP body excerpt.
#include "session/message_composer.hpp"

#include "crypto/hash_text.hpp"
#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "text/mail_date.hpp"

namespace talvex {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// How a field joins a text: a null one adds nothing.
std::string_view Text(const std::optional<std::string>& field) {
  return field ? std::string_view(*field) : std::string_view();
}

}  // namespace

std::string GeneratedMessageId(const data::ItemHeader& item) {
  if (!item.dtReceived && !item.fromName && !item.fromAddress && !item.toAddress) return {};
  std::string input(Text(item.dtReceived));
  input.append(Text(item.fromName)).append(Text(item.fromAddress)).append(Text(item.toAddress));
  return HashText(input);
}

std::string ComposeMessageHeader(const data::ItemHeader& item, std::string_view hostName) {
  // Writers store the date in mail form already; an empty or null one is dated now.
  const std::string_view date = Text(item.dtReceived);
  std::string header = "Date: ";
  header.append(date.empty() ? FormatMailDate("") : std::string(date)).append(kCrLf);
  header.append("Subject: ").append(Text(item.subject)).append(kCrLf);
  header.append("MIME-Version: 1.0").append(kCrLf);
  // The stored content description may carry its transfer-encoding line after a CR LF; it
  // becomes a header line of its own.
  header.append("Content-Type: ").append(Text(item.content)).append(kCrLf);
  header.append("Message-ID: <").append(GeneratedMessageId(item)).append("@");
  header.append(hostName).append(">").append(kCrLf);
  header.append("From: \"").append(Text(item.fromName)).append("\" <");
  header.append(Text(item.fromAddress)).append(">").append(kCrLf);
  header.append("To: <").append(Text(item.toAddress)).append(">").append(kCrLf);
  header.append(kCrLf);
  return header;
}

std::int64_t MessageSize(const data::ItemStats& item, std::string_view hostName) {
  if (!item.bodyLength) RaiseRuntime(ErrorNumber::kInvalidUseOfNull);
  const std::string header = ComposeMessageHeader(item.header, hostName);
  return static_cast<std::int64_t>(ansi::EncodedLength(header)) + *item.bodyLength;
}

std::string UniqueIdentifier(const data::ItemHeader& item, std::string_view hostName) {
  if (!Text(item.messageId).empty()) return *item.messageId;
  return HashText(ComposeMessageHeader(item, hostName));
}

std::string GetTopLines(const std::string& body, std::int32_t count) {
  std::size_t lineEnds = 0;
  for (const char c : body) lineEnds += c == '\n' ? 1 : 0;
  if (count > 0 && static_cast<std::size_t>(count) > lineEnds) return body;
  std::string out;
  std::size_t start = 0;
  for (std::int32_t n = 0; n < count; ++n) {
    const std::size_t end = body.find('\n', start);
    std::string_view line(body.data() + start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (n > 0) out += kCrLf;
    out.append(line);
    start = end + 1;
  }
  return out;
}

}  // namespace talvex
