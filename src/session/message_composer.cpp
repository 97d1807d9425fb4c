// Header blocks, sizes and identifiers of served items, and the TOP body excerpt.
#include "session/message_composer.hpp"

#include <array>

#include "crypto/hash_text.hpp"
#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "text/mail_date.hpp"

namespace talvex {

namespace {

constexpr std::string_view kCrLf = "\r\n";
// What ends a message on the wire, before the reply's own line end.
constexpr std::string_view kEnd = "\r\n.";

// How a field joins a text: a null one adds nothing.
std::string_view Text(const std::optional<std::string>& field) {
  return field ? std::string_view(*field) : std::string_view();
}

}  // namespace

std::string GeneratedMessageId(const data::ItemHeader& item, MessageFacts* facts) {
  if (!item.dtReceived && !item.fromName && !item.fromAddress && !item.toAddress) return {};
  std::string input(Text(item.dtReceived));
  input.append(Text(item.fromName)).append(Text(item.fromAddress)).append(Text(item.toAddress));
  if (!facts) return HashText(input);
  if (const std::string* known = facts->FindMessageId(input)) return *known;
  std::string id = HashText(input);
  if (!id.empty()) facts->KeepMessageId(input, id);
  return id;
}

namespace {

// Hands the header block to `visit` piece by piece, so that the block can be built, measured
// or encoded onto the wire without an intermediate copy. Every field lies between ASCII
// characters, so measuring or encoding the pieces one by one equals doing it to the block.
template <class Visit>
void VisitHeader(const data::ItemHeader& item, std::string_view hostName, MessageFacts* facts,
                 const Visit& visit) {
  // Writers store the date in mail form already; an empty or null one is dated now.
  const std::string_view stored = Text(item.dtReceived);
  const std::string now = stored.empty() ? FormatMailDate("") : std::string();
  const std::string messageId = GeneratedMessageId(item, facts);
  // The stored content description may carry its transfer-encoding line after a CR LF; it
  // becomes a header line of its own. One header line per row:
  // clang-format off
  const std::array<std::string_view, 28> pieces = {
      "Date: ", stored.empty() ? std::string_view(now) : stored, kCrLf,
      "Subject: ", Text(item.subject), kCrLf,
      "MIME-Version: 1.0", kCrLf,
      "Content-Type: ", Text(item.content), kCrLf,
      "Message-ID: <", messageId, "@", hostName, ">", kCrLf,
      "From: \"", Text(item.fromName), "\" <", Text(item.fromAddress), ">", kCrLf,
      "To: <", Text(item.toAddress), ">", kCrLf,
      kCrLf};
  // clang-format on
  for (const std::string_view piece : pieces) visit(piece);
}

}  // namespace

std::string ComposeMessageHeader(const data::ItemHeader& item, std::string_view hostName,
                                 MessageFacts* facts) {
  std::string header;
  VisitHeader(item, hostName, facts, [&header](std::string_view piece) { header.append(piece); });
  return header;
}

std::int64_t MessageSize(const data::ItemStats& item, std::string_view hostName,
                         MessageFacts* facts) {
  if (!item.bodyLength) RaiseRuntime(ErrorNumber::kInvalidUseOfNull);
  std::size_t header = 0;
  VisitHeader(item.header, hostName, facts,
              [&header](std::string_view piece) { header += ansi::EncodedLength(piece); });
  return static_cast<std::int64_t>(header) + *item.bodyLength;
}

namespace {

// A line begins at the start of a text and after every LF: a client that reads lines by their
// LF alone must not find the end of the reply inside a message either.
constexpr std::string_view kLineStartDot = "\n.";

std::size_t StuffedDots(std::string_view text) {
  std::size_t dots = text.starts_with('.') ? 1 : 0;
  for (std::size_t at = text.find(kLineStartDot); at != std::string_view::npos;
       at = text.find(kLineStartDot, at + 1)) {
    ++dots;
  }
  return dots;
}

}  // namespace

// '.' and LF are ASCII, which encoding keeps and never produces from other characters, so the
// text is split at its line-start dots and each piece encoded after its extra dot.
void AppendWireText(std::string& out, std::string_view text, DotStuffing stuffing, bool lineStart) {
  if (stuffing == DotStuffing::kOff) {
    ansi::AppendEncoded(out, text);
    return;
  }
  std::size_t from = 0;
  if (lineStart && text.starts_with('.')) out.push_back('.');
  for (std::size_t at = text.find(kLineStartDot); at != std::string_view::npos;
       at = text.find(kLineStartDot, at + 1)) {
    ansi::AppendEncoded(out, text.substr(from, at + 1 - from));
    out.push_back('.');
    from = at + 1;
  }
  ansi::AppendEncoded(out, text.substr(from));
}

void AppendRetrieved(std::string& out, const data::ItemHeader& item, std::string_view body,
                     std::string_view hostName, DotStuffing stuffing, MessageFacts* facts) {
  const std::string header = ComposeMessageHeader(item, hostName, facts);
  // Encoding never lengthens a text: one reservation holds the message, its stuffed dots, its
  // end and the reply's line end.
  const std::size_t dots =
      stuffing == DotStuffing::kOn ? StuffedDots(header) + StuffedDots(body) : 0;
  out.reserve(out.size() + header.size() + body.size() + dots + kEnd.size() + kCrLf.size());
  AppendWireText(out, header, stuffing);
  AppendWireText(out, body, stuffing);
  out.append(kEnd);
}

namespace {

// Where a piece of at most `octets` from the start of `text` ends: after its last LF, so that
// the next piece begins a line, or else where no UTF-8 sequence is cut in two, which encoding
// one piece at a time needs.
std::size_t PieceEnd(std::string_view text, std::size_t octets) {
  if (text.size() <= octets) return text.size();
  const std::size_t lineEnd = text.rfind('\n', octets - 1);
  if (lineEnd != std::string_view::npos) return lineEnd + 1;
  const auto continues = [&text](std::size_t at) {
    return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
  };
  std::size_t end = octets;
  while (end > 0 && continues(end)) --end;
  if (end > 0) return end;
  // A piece shorter than the character it starts with takes the whole character.
  end = octets;
  while (continues(end)) ++end;
  return end;
}

}  // namespace

RetrievedPieces::RetrievedPieces(const data::ItemHeader& item, std::string_view hostName,
                                 DotStuffing stuffing, MessageFacts* facts)
    : header_(ComposeMessageHeader(item, hostName, facts)), stuffing_(stuffing) {}

void RetrievedPieces::AppendNext(std::string& out, std::size_t pieceOctets, bool last) {
  if (!started_) {
    AppendWireText(out, header_, stuffing_);
    started_ = true;
  }
  const std::string_view unsent = unsent_;
  const std::size_t end = last ? unsent.size() : PieceEnd(unsent, pieceOctets);
  AppendWireText(out, unsent.substr(0, end), stuffing_, lineStart_);
  if (end > 0) lineStart_ = unsent[end - 1] == '\n';
  unsent_.erase(0, end);
  if (last) out.append(kEnd);
}

std::string UniqueIdentifier(const data::ItemHeader& item, std::string_view hostName,
                             MessageFacts* facts) {
  if (!Text(item.messageId).empty()) return *item.messageId;
  return HashText(ComposeMessageHeader(item, hostName, facts));
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
