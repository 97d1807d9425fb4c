// Header blocks composed from item rows (line order, date, identifier, missing and null
// fields) and the first body lines that TOP sends.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <regex>

#include "platform/failure.hpp"
#include "session/message_composer.hpp"
#include "text/mail_date.hpp"

namespace talvex {
namespace {

using FieldList = std::vector<std::pair<std::string, Variant>>;

const std::string kHost = "pop.example.org";
const std::string kDate = "Mon, 1 Jan 2024 10:00:00 +0100";

// MD5 of bytes in upper-case hex, made without the component's own digest code.
std::string Md5Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_md5(), nullptr);
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02X", digest[i]);
    hex += two;
  }
  return hex;
}

// A row of GetP3MailItem's shape.
FieldList MailItem() {
  return {{"GWQID", "7"},
          {"MessageID", "stored-id"},
          {"DTReceived", kDate},
          {"Subject", "Hi"},
          {"Content", "text/plain; charset=\"utf-8\"\r\nContent-Transfer-Encoding: base64"},
          {"FromName", "Zoë \"Z\""},
          {"FromAddress", "zoe@example.org"},
          {"ToAddress", "bob@example.org"},
          {"Body", "x"}};
}

// The fields with `name` set to `value`, or left out when there is no value.
FieldList With(FieldList fields, const std::string& name, std::optional<Variant> value) {
  const auto at = std::find_if(fields.begin(), fields.end(),
                               [&](const auto& field) { return field.first == name; });
  if (value) {
    at->second = *value;
  } else {
    fields.erase(at);
  }
  return fields;
}

Recordset Row(const FieldList& fields) {
  auto names = std::make_shared<std::vector<std::string>>();
  std::vector<Variant> cells;
  for (const auto& [name, value] : fields) {
    names->push_back(name);
    cells.push_back(value);
  }
  return Recordset(std::move(names), std::move(cells));
}

TEST(MessageComposer, LinesIdentifierAndRowShapes) {
  // The digest input is the Windows-1252 bytes of date, sender name, sender and recipient.
  const std::string id = Md5Hex(kDate + "Zo\xEB \"Z\"" + "zoe@example.org" + "bob@example.org");
  Recordset row = Row(MailItem());
  const std::string header = ComposeMessageHeader(row, kHost);
  EXPECT_EQ(header, "Date: " + kDate + "\r\nSubject: Hi\r\nMIME-Version: 1.0\r\n" +
                        "Content-Type: text/plain; charset=\"utf-8\"\r\n" +
                        "Content-Transfer-Encoding: base64\r\n" + "Message-ID: <" + id +
                        "@pop.example.org>\r\n" + "From: \"Zoë \"Z\"\" <zoe@example.org>\r\n" +
                        "To: <bob@example.org>\r\n\r\n");
  EXPECT_EQ(row.Fields("MessageID").ToText(), id);
  EXPECT_EQ(ComposeMessageHeader(row, kHost), header);

  // GetP3ItemStats rows carry the fields in another order, with BodyLength instead of Body.
  FieldList statsFields = With(MailItem(), "Body", std::nullopt);
  std::reverse(statsFields.begin(), statsFields.end());
  statsFields.emplace_back("BodyLength", 1);
  Recordset stats = Row(statsFields);
  EXPECT_EQ(ComposeMessageHeader(stats, kHost), header);
}

TEST(MessageComposer, DateLine) {
  const std::string odd = "32 Smarch, yesterday  é\t";
  Recordset stored = Row(With(MailItem(), "DTReceived", odd));
  EXPECT_TRUE(ComposeMessageHeader(stored, kHost).starts_with("Date: " + odd + "\r\nSubject: "));

  const std::regex mailDate(
      "Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), [1-9][0-9]? "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9] "
      "[+-][0-9]{4}\r\n");
  for (const Variant& date : {Variant(""), Variant::Null()}) {
    Recordset row = Row(With(MailItem(), "DTReceived", date));
    const std::string before = FormatMailDate("");
    const std::string header = ComposeMessageHeader(row, kHost);
    const std::string after = FormatMailDate("");
    const std::string line = header.substr(0, header.find("\r\n") + 2);
    EXPECT_TRUE(std::regex_match(line, mailDate)) << line;
    EXPECT_TRUE(line == "Date: " + before + "\r\n" || line == "Date: " + after + "\r\n") << line;
  }
}

TEST(MessageComposer, IdentifierFromEmptyAndNullFields) {
  const char* inputs[] = {"DTReceived", "FromName", "FromAddress", "ToAddress"};
  FieldList empty = MailItem();
  FieldList null = MailItem();
  for (const char* name : inputs) {
    empty = With(empty, name, Variant(""));
    null = With(null, name, Variant::Null());
  }
  Recordset emptyRow = Row(empty);
  EXPECT_NE(ComposeMessageHeader(emptyRow, kHost).find("\r\nMessage-ID: <" + Md5Hex("") + "@"),
            std::string::npos);
  EXPECT_EQ(emptyRow.Fields("MessageID").ToText(), "D41D8CD98F00B204E9800998ECF8427E");

  Recordset nullRow = Row(null);
  const std::string header = ComposeMessageHeader(nullRow, kHost);
  EXPECT_NE(header.find("\r\nMessage-ID: <@pop.example.org>\r\nFrom: \"\" <>\r\nTo: <>\r\n\r\n"),
            std::string::npos)
      << header;
  EXPECT_EQ(nullRow.Fields("MessageID"), Variant(""));

  // One null input contributes nothing to the digest.
  Recordset oneNull = Row(With(MailItem(), "FromName", Variant::Null()));
  ComposeMessageHeader(oneNull, kHost);
  EXPECT_EQ(oneNull.Fields("MessageID").ToText(),
            Md5Hex(kDate + "zoe@example.org" + "bob@example.org"));
}

TEST(MessageComposer, MissingAndNullFields) {
  for (const char* required : {"FromName", "FromAddress", "ToAddress"}) {
    Recordset row = Row(With(MailItem(), required, std::nullopt));
    EXPECT_THROW(ComposeMessageHeader(row, kHost), Failure) << required;
  }
  Recordset noSubject = Row(With(MailItem(), "Subject", std::nullopt));
  EXPECT_TRUE(ComposeMessageHeader(noSubject, kHost)
                  .starts_with("Date: " + kDate + "\r\nMIME-Version: 1.0\r\nContent-Type: "));
  for (const Variant& content : {Variant(""), Variant::Null()}) {
    Recordset row = Row(With(MailItem(), "Content", content));
    EXPECT_NE(ComposeMessageHeader(row, kHost).find("\r\nContent-Type: \r\nMessage-ID: <"),
              std::string::npos);
  }
}

TEST(MessageComposer, TopLines) {
  const std::string five = "one\r\ntwo\r\nthree\r\nfour\r\nfive";
  EXPECT_EQ(GetTopLines(five, 0), "");
  EXPECT_EQ(GetTopLines(five, -1), "");
  EXPECT_EQ(GetTopLines(five, 2), "one\r\ntwo");
  EXPECT_EQ(GetTopLines(five, 4), "one\r\ntwo\r\nthree\r\nfour");
  EXPECT_EQ(GetTopLines(five, 5), five);
  EXPECT_EQ(GetTopLines(five, 10), five);
  // LF-only lines come out joined by CR LF; with a final line end, a count equal to the number
  // of line ends still cuts, one more returns the body as it is.
  EXPECT_EQ(GetTopLines("a\nb\nc\n", 3), "a\r\nb\r\nc");
  EXPECT_EQ(GetTopLines("a\nb\nc\n", 4), "a\nb\nc\n");
  EXPECT_EQ(GetTopLines("\r\nbody\r\nmore", 2), "\r\nbody");
  EXPECT_EQ(GetTopLines("a\r\r\nb", 1), "a\r");
  EXPECT_EQ(GetTopLines("", 1), "");
}

}  // namespace
}  // namespace talvex
