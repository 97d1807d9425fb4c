// Header blocks of served items and the TOP body excerpt.
#include "session/message_composer.hpp"

#include "crypto/hash_text.hpp"
#include "platform/failure.hpp"
#include "text/mail_date.hpp"

namespace talvex {

namespace {

constexpr const char* kCrLf = "\r\n";

// Runs one composition step; a step that fails is skipped and composition goes on.
template <typename Step>
void Tolerant(Step&& step) {
  try {
    step();
  } catch (const Failure&) {  // NOLINT(bugprone-empty-catch): a field that cannot be read
  }
}

}  // namespace

std::string ComposeMessageHeader(Recordset& item, const std::string& hostName) {
  std::string header;
  Tolerant([&] {
    // A stored date is written as stored (writers store it in mail form); an empty or null one,
    // or one that cannot be read, gives the current date.
    std::string date;
    try {
      date = item.Fields("DTReceived").TextOrEmpty();
    } catch (const Failure&) {
      date.clear();
    }
    header += "Date: " + (date.empty() ? FormatMailDate("") : date) + kCrLf;
  });
  Tolerant([&] { header += "Subject: " + item.Fields("Subject").TextOrEmpty() + kCrLf; });
  header += "MIME-Version: 1.0";
  header += kCrLf;
  Tolerant([&] { header += "Content-Type: " + item.Fields("Content").TextOrEmpty() + kCrLf; });
  // The identifier is the digest of the item's date, sender and recipient, so it is the same
  // in every session; when all four are null there is nothing to digest and it stays empty.
  Tolerant([&] {
    item.Fields("MessageID") = std::string();
    if (!item.Fields("MessageID").TextOrEmpty().empty()) return;
    const Variant* parts[] = {&item.Fields("DTReceived"), &item.Fields("FromName"),
                              &item.Fields("FromAddress"), &item.Fields("ToAddress")};
    std::string input;
    bool allNull = true;
    for (const Variant* part : parts) {
      allNull = allNull && part->IsNull();
      input += part->TextOrEmpty();
    }
    if (allNull) return;
    item.Fields("MessageID") = HashText(input);
  });
  header += "Message-ID: <" + item.Fields("MessageID").TextOrEmpty() + "@" + hostName + ">" + kCrLf;
  header += "From: \"" + item.Fields("FromName").TextOrEmpty() + "\" <" +
            item.Fields("FromAddress").TextOrEmpty() + ">" + kCrLf;
  header += "To: <" + item.Fields("ToAddress").TextOrEmpty() + ">" + kCrLf;
  header += kCrLf;
  return header;
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
