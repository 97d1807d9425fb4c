// Header blocks, sizes and identifiers composed from items whose fields are odd, empty or
// null; the end-to-end tests check the blocks of ordinary items.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <algorithm>

#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "session/message_composer.hpp"
#include "text/mail_date.hpp"

namespace talvex {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kHost = "pop.example.org";
const std::string kDate = "Mon, 1 Jan 2024 10:00:00 +0100";

data::ItemHeader Item() {
  return {kDate,
          "Hi",
          "text/plain; charset=\"utf-8\"",
          "stored-id",
          "Zo\u00EB \"Z\"",
          "zoe@example.org",
          "bob@example.org"};
}

TEST(MessageComposer, IdentifierDigestsTheWindows1252BytesOfDateSenderAndRecipient) {
  // MD5 of kDate, "Zo\xEB \"Z\"", "zoe@example.org" and "bob@example.org" as octets.
  const std::string id = "47D0D90D3AD62FEA03B1CF83971200A7";
  EXPECT_EQ(GeneratedMessageId(Item()), id);
  EXPECT_EQ(ComposeMessageHeader(Item(), kHost),
            "Date: " + kDate +
                "\r\nSubject: Hi\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; "
                "charset=\"utf-8\"\r\nMessage-ID: <" +
                id +
                "@pop.example.org>\r\nFrom: \"Zo\u00EB \"Z\"\" <zoe@example.org>\r\nTo: "
                "<bob@example.org>\r\n\r\n");

  // A null input adds nothing; four empty ones give the digest of nothing, four null ones none.
  // An empty or null content still gives its line.
  data::ItemHeader oneNull = Item();
  oneNull.fromName.reset();
  EXPECT_EQ(GeneratedMessageId(oneNull), "54380FD6FB902052B832789F12025022");
  data::ItemHeader empty = Item();
  data::ItemHeader null = Item();
  for (auto field :
       {&data::ItemHeader::dtReceived, &data::ItemHeader::fromName, &data::ItemHeader::fromAddress,
        &data::ItemHeader::toAddress, &data::ItemHeader::content}) {
    empty.*field = "";
    (null.*field).reset();
  }
  EXPECT_EQ(GeneratedMessageId(empty), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_THAT(ComposeMessageHeader(empty, kHost),
              HasSubstr("\r\nContent-Type: \r\nMessage-ID: <D41D8CD98F00B204E9800998ECF8427E@"));
  EXPECT_THAT(ComposeMessageHeader(null, kHost),
              HasSubstr("\r\nContent-Type: \r\nMessage-ID: <@pop.example.org>\r\nFrom: \"\" "
                        "<>\r\nTo: <>\r\n\r\n"));
}

// The server's memory gives back the identifier of the very input it was worked out from: items
// by the thousand, more than its slots hold, come out as they do without it, the second time as
// the first.
TEST(MessageComposer, RememberedIdentifiersAreThoseOfTheirOwnItems) {
  MessageFacts facts;
  EXPECT_EQ(GeneratedMessageId(Item(), &facts), "47D0D90D3AD62FEA03B1CF83971200A7");
  for (int round = 0; round < 2; ++round) {
    for (std::size_t n = 0; n < 3 * MessageFacts::kIdSlots; ++n) {
      data::ItemHeader item = Item();
      item.toAddress = std::to_string(n);
      item.toAddress->append("@example.org");
      ASSERT_EQ(GeneratedMessageId(item, &facts), GeneratedMessageId(item)) << n;
    }
    EXPECT_EQ(GeneratedMessageId(Item(), &facts), "47D0D90D3AD62FEA03B1CF83971200A7");
  }
}

TEST(MessageComposer, DateIsTheStoredTextOrNow) {
  data::ItemHeader item = Item();
  item.dtReceived = "32 Smarch, yesterday  \u00E9\t";
  EXPECT_THAT(ComposeMessageHeader(item, kHost), StartsWith("Date: " + *item.dtReceived + "\r\n"));
  for (const std::optional<std::string>& date :
       {std::optional<std::string>(""), std::optional<std::string>()}) {
    item.dtReceived = date;
    const std::string before = "Date: " + FormatMailDate("") + "\r\n";
    const std::string header = ComposeMessageHeader(item, kHost);
    const std::string after = "Date: " + FormatMailDate("") + "\r\n";
    EXPECT_TRUE(header.starts_with(before) || header.starts_with(after)) << header;
  }
}

TEST(MessageComposer, SizeCountsOctetsOnTheWireAndUidlFallsBackToTheHeaderDigest) {
  const data::ItemStats stats{Item(), 82};
  const std::string header = ComposeMessageHeader(Item(), kHost);
  // "ë" is two bytes of text but one octet on the wire.
  EXPECT_EQ(MessageSize(stats, kHost), static_cast<std::int64_t>(header.size()) - 1 + 82);
  EXPECT_THROW(MessageSize({Item(), std::nullopt}, kHost), Failure);

  EXPECT_EQ(UniqueIdentifier(Item(), kHost), "stored-id");
  data::ItemHeader unnamed = Item();
  unnamed.messageId = "";
  const std::string digest = UniqueIdentifier(unnamed, kHost);
  EXPECT_EQ(digest.size(), 32U);
  EXPECT_NE(digest, GeneratedMessageId(unnamed));
  unnamed.messageId.reset();
  EXPECT_EQ(UniqueIdentifier(unnamed, kHost), digest);
}

// What RETR appends must be exactly the encoded header, body and end, behind what the buffer
// already holds, with each dot that begins a line doubled when stuffing is on (the rule itself
// is pinned down below); the size the listings report is that of the message unstuffed. Also
// when fields and body hold characters outside the code page, malformed or cut-off sequences,
// and lines, in the header too, that begin with a dot.
TEST(MessageComposer, RetrievedMessageIsTheEncodedBlockAndMatchesTheReportedSize) {
  data::ItemHeader item = Item();
  item.subject = "Gr\u00FC\u00DFe \u4E2D\r\n.injected \xE2\x82";
  item.fromName = "\xC3";
  const std::vector<std::string> bodies = {"", "plain\r\nbody",
                                           "\u20AC 5 \xF0\x9F\x98\x80\r\n.\r\n", ".first\r\n..\n.",
                                           "cut at the end \xE2\x82"};
  for (const DotStuffing stuffing : {DotStuffing::kOff, DotStuffing::kOn}) {
    for (const std::string& body : bodies) {
      SCOPED_TRACE(testing::Message() << body << " stuffing " << (stuffing == DotStuffing::kOn));
      std::string out = "+OK\r\n";
      AppendRetrieved(out, item, body, kHost, stuffing);
      const std::string plain = ansi::Encode(ComposeMessageHeader(item, kHost) + body);
      std::string wire;
      for (std::size_t at = 0; at < plain.size(); ++at) {
        const bool lineStart = at == 0 || plain[at - 1] == '\n';
        if (stuffing == DotStuffing::kOn && plain[at] == '.' && lineStart) wire += '.';
        wire += plain[at];
      }
      EXPECT_EQ(out, "+OK\r\n" + wire + "\r\n.");
      const data::ItemStats stats{item, static_cast<std::int32_t>(ansi::EncodedLength(body))};
      EXPECT_EQ(MessageSize(stats, kHost), static_cast<std::int64_t>(plain.size()));
    }
  }
}

// Every line that begins with "." gets one more, whatever ends the line before it; sizes stay
// those of the message itself.
TEST(MessageComposer, StuffingDoublesTheDotThatBeginsALine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {".", ".."},
      {"..", "..."},
      {"a\r\n.\r\nb", "a\r\n..\r\nb"},
      {"a\n.b\n..c", "a\n..b\n...c"},
      {"a.b\r.c . d", "a.b\r.c . d"},  // a dot inside a line, or after CR alone, stays
      {"\u20AC\n.\u00FC", "\x80\n..\xFC"},
      {"cut \xE2\x82\n.x", ansi::Encode("cut \xE2\x82\n") + "..x"},
      {"", ""},
  };
  for (const auto& [text, wire] : cases) {
    std::string out = "+OK\r\n";
    AppendWireText(out, text, DotStuffing::kOn);
    EXPECT_EQ(out, "+OK\r\n" + wire) << text;
    out.clear();
    AppendWireText(out, text, DotStuffing::kOff);
    EXPECT_EQ(out, ansi::Encode(text)) << text;
  }
}

// Piece boundaries fall everywhere: inside CR LF, right before a line-start dot, inside UTF-8
// sequences of two to four octets and in a line longer than a piece; the body arrives in reads
// of any size, as a reader of the database gives it, and the read that finds its end is empty.
TEST(MessageComposer, PiecesOfARetrievedMessageJoinToTheWholeWhereverTheyAreCut) {
  std::string body = ".first\r\nca\u00E9 \u65E5\u672C \U0001F600\r\n.\r\n..two\nbare LF\n.dot";
  body += std::string(300, 'x') + "\u00E9\u00E9\u00E9" + std::string(50, 'y') + "\r\n.end";
  for (const DotStuffing stuffing : {DotStuffing::kOff, DotStuffing::kOn}) {
    std::string whole;
    AppendRetrieved(whole, Item(), body, kHost, stuffing);
    for (const std::size_t octets : {1u, 2u, 3u, 5u, 7u, 64u, 333u, 100000u}) {
      for (const std::size_t reads : {1u, 3u, 64u, 100000u}) {
        RetrievedPieces pieces(Item(), kHost, stuffing);
        std::string joined;
        std::size_t read = 0;
        bool ended = false;
        while (!ended) {
          while (!ended && pieces.NeedsMore(octets)) {
            const std::size_t count = std::min(reads, body.size() - read);
            pieces.Unsent().append(body, read, count);
            read += count;
            ended = count == 0;
          }
          pieces.AppendNext(joined, octets, ended);
        }
        EXPECT_EQ(joined, whole) << "pieces of " << octets << ", reads of " << reads
                                 << ", stuffing " << (stuffing == DotStuffing::kOn);
      }
    }
  }
}

TEST(MessageComposer, TopLinesDropOnlyTheCrBeforeEachLineFeed) {
  EXPECT_EQ(GetTopLines("a\r\r\nb\nc", 2), "a\r\r\nb");
}

}  // namespace
}  // namespace talvex
