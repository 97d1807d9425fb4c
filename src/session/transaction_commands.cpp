// The commands on an open mail drop: STAT, LIST and UIDL, which read the drop's fields in one
// query each time they are asked and take sizes and identifiers from the view; DELE, RSET and
// NOOP; RETR and TOP, which send a message as one reply. Listings yield to the event loop after
// each item and stop, without a further reply, as soon as they find the session ending.
#include <algorithm>
#include <array>
#include <charconv>
#include <memory>
#include <vector>

#include "platform/ansi.hpp"
#include "platform/failure.hpp"
#include "session/command_line.hpp"
#include "session/commands.hpp"
#include "session/message_composer.hpp"
#include "session/session.hpp"

namespace talvex {

namespace {

// Stored body octets that RETR composes at once: a message up to this size leaves whole, which
// is fastest (pieces cost a 1 MiB download about a tenth of its rate); a larger body goes out
// in pieces of this size, each once the reply queue has room.
constexpr std::size_t kRetrPieceOctets = 4 * ReplyQueue::kRoomLimit;

void AppendNumber(std::string& out, std::int64_t value) {
  std::array<char, 24> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
  out.append(digits.data(), end);
}

}  // namespace

asio::awaitable<Commands::Loaded> Commands::LoadMessage(std::string_view argument,
                                                        std::int64_t bodyUpTo) {
  const MessageNumber parsed = drop_.Parse(argument);
  if (parsed.kind == MessageNumber::Kind::kNotNumeric) {
    co_return Loaded{Loaded::Outcome::kNotNumeric, 0, {}};
  }
  if (parsed.kind == MessageNumber::Kind::kOutOfRange) {
    ReplyOutOfRange();
    co_return Loaded{};
  }
  auto item = co_await drop_.Item(parsed.number, bodyUpTo);
  if (!item) {
    ReplyNoLongerAvailable();
    co_return Loaded{};
  }
  co_return Loaded{Loaded::Outcome::kItem, parsed.number, *std::move(item)};
}

asio::awaitable<Commands::Loaded> Commands::LoadNamedMessage(const std::string& line,
                                                             std::int64_t bodyUpTo) {
  const auto words = SplitWords(line);
  if (words.size() != 2 || !InTransaction()) {
    ReplyNotValidInThisState();
    co_return Loaded{};
  }
  co_return co_await LoadMessage(words[1], bodyUpTo);
}

asio::awaitable<std::optional<Commands::Totals>> Commands::StatPass(
    const MailDropView::Shown& shown) {
  Totals totals;
  // Sizes already remembered are only added up: each addition is far cheaper than the turn of
  // the loop that would let others run between two of them.
  const bool known = std::all_of(shown.begin(), shown.end(),
                                 [](const auto& item) { return !item || item->size >= 0; });
  if (known) {
    for (const auto& item : shown) {
      if (!item) continue;
      totals.octets += item->size;
      ++totals.count;
    }
    co_return totals;
  }
  // Other sessions, and this one's own events, run after each item that is worked out.
  const bool whole = co_await session_.EachItem(drop_.Count(), [&](std::size_t at) {
    if (const auto& item = shown[at]) {
      totals.octets += drop_.Size(*item, session_.HostName());
      ++totals.count;
    }
  });
  if (!whole) co_return std::nullopt;
  co_return totals;
}

asio::awaitable<bool> Commands::CmdStat(const std::string& /*line*/) {
  if (!InTransaction()) {
    ReplyNotValidInThisState();
  } else if (drop_.Count() == 0) {
    Reply("+OK 0 0");
  } else {
    const auto shown = co_await drop_.AllStats(MailDropView::Need::kSize, session_.HostName());
    if (const auto totals = co_await StatPass(shown)) ReplyTotals(*totals);
  }
  co_return true;
}

void Commands::ReplyTotals(const Totals& totals) {
  session_.SendComposed([&totals](std::string& out) {
    out.append("+OK ");
    AppendNumber(out, totals.count);
    out.append(" ");
    AppendNumber(out, totals.octets);
  });
}

void Commands::ReplyListingLine(std::string_view number, const MailDropView::Listed& item,
                                Listing kind, std::string_view prefix) {
  session_.SendComposed([&](std::string& out) {
    out.append(prefix).append(number).append(" ");
    if (kind == Listing::kSizes) {
      AppendNumber(out, drop_.Size(item, session_.HostName()));
    } else {
      ansi::AppendEncoded(out, drop_.UniqueId(item, session_.HostName()));
    }
  });
}

// LIST and UIDL have one shape: a whole listing without an argument (or with more than one),
// a single line with exactly one. They differ in the empty listing, the listing's first line
// and the value given for each message.
asio::awaitable<bool> Commands::ListMessages(const std::string& line, Listing kind) {
  if (!InTransaction()) {
    ReplyNotValidInThisState();
    co_return true;
  }
  const auto words = SplitWords(line);
  const std::size_t arguments = words.size() - 1;
  if (arguments == 0 && drop_.Count() == 0) {
    Reply(kind == Listing::kSizes ? "+OK 0 0\r\n." : "+OK\r\n.");
    co_return true;
  }
  if (arguments == 1) {
    const MessageNumber parsed = drop_.Parse(words[1]);
    if (parsed.kind == MessageNumber::Kind::kNotNumeric) co_return false;
    if (parsed.kind == MessageNumber::Kind::kOutOfRange) {
      ReplyOutOfRange();
    } else if (const auto item = co_await drop_.Stats(parsed.number)) {
      ReplyListingLine(words[1], *item, kind, "+OK ");
    } else {
      ReplyNoLongerAvailable();
    }
    co_return true;
  }
  // The listing's lines gather and leave in a few large writes rather than one per line.
  // UIDL's first line goes before the drop is read, as it always did, so that a failing
  // database follows it; LIST's totals and lines come from the same reading of the drop.
  const auto batch = session_.GatherReplies();
  if (kind == Listing::kIdentifiers) Reply("+OK");
  const auto need =
      kind == Listing::kSizes ? MailDropView::Need::kSize : MailDropView::Need::kUniqueId;
  const auto shown = co_await drop_.AllStats(need, session_.HostName());
  if (kind == Listing::kSizes) {
    const auto totals = co_await StatPass(shown);
    if (!totals) co_return true;
    ReplyTotals(*totals);
  }
  // Gone items are left out, and the others keep their numbers.
  std::vector<std::size_t> present;
  present.reserve(shown.size());
  for (std::size_t at = 0; at < shown.size(); ++at) {
    if (shown[at]) present.push_back(at);
  }
  std::array<char, 24> number{};
  const bool whole = co_await session_.EachItem(present.size(), [&](std::size_t i) {
    const std::size_t at = present[i];
    const auto end = std::to_chars(number.data(), number.data() + number.size(), at + 1).ptr;
    ReplyListingLine(std::string_view(number.data(), end), *shown[at], kind, "");
  });
  if (whole) Reply(".");
  co_return true;
}

asio::awaitable<bool> Commands::CmdList(const std::string& line) {
  co_return co_await ListMessages(line, Listing::kSizes);
}

asio::awaitable<bool> Commands::CmdUidl(const std::string& line) {
  co_return co_await ListMessages(line, Listing::kIdentifiers);
}

asio::awaitable<bool> Commands::CmdDele(const std::string& line) {
  // Only whether the item is still there matters: its body stays in the database.
  const Loaded loaded = co_await LoadNamedMessage(line, 0);
  if (loaded.outcome != Loaded::Outcome::kItem) {
    co_return loaded.outcome == Loaded::Outcome::kReplied;
  }
  const bool marked = co_await drop_.MarkDeleted(loaded.number, data::ItemStatus::kDeleted);
  if (marked) {
    ++marked_;
    Reply("+OK");
  } else {
    ReplyError("[SYS/TEMP]", "");
  }
  co_return true;
}

asio::awaitable<bool> Commands::CmdRset(const std::string& /*line*/) {
  if (!InTransaction()) {
    ReplyNotValidInThisState();
  } else if (drop_.Count() == 0 || forceDelete_) {
    Reply("+OK");
  } else {
    const bool restored = co_await drop_.Restore();
    if (restored) {
      marked_ = 0;
      Reply("+OK");
    } else {
      ReplyError("[SYS/TEMP]", "");
    }
  }
  co_return true;
}

asio::awaitable<bool> Commands::CmdNoop(const std::string& /*line*/) {
  if (InTransaction()) {
    Reply("+OK");
  } else {
    ReplyNotValidInThisState();
  }
  co_return true;
}

asio::awaitable<bool> Commands::CmdRetr(const std::string& line) {
  const Loaded loaded = co_await LoadNamedMessage(line, kRetrPieceOctets);
  if (loaded.outcome != Loaded::Outcome::kItem) {
    co_return loaded.outcome == Loaded::Outcome::kReplied;
  }
  if (loaded.item.bodyLeft) {
    co_await SendRetrievedInPieces(loaded);
    co_return true;
  }
  // The status line and the message leave in one write, and only once a forced deletion has
  // been recorded: a client that has the whole message finds it marked, whichever database
  // serves the drop.
  const auto batch = session_.GatherReplies();
  Reply("+OK");
  std::size_t octets = 0;
  session_.SendComposed([&](std::string& out) {
    const std::size_t before = out.size();
    AppendRetrieved(out, loaded.item.header, loaded.item.body.value_or(""), session_.HostName(),
                    Stuffing(), drop_.Facts());
    octets = out.size() - before;
  });
  session_.Count(Metrics::Counter::kMessagesRetrieved);
  session_.Count(Metrics::Counter::kOctetsRetrieved, octets);
  // The message is composed in full; a failed status change only leaves it in the drop.
  if (forceDelete_) {
    const bool marked =
        co_await drop_.MarkDeleted(loaded.number, data::ItemStatus::kRetrievedDeleted);
    if (marked) ++marked_;
  }
  co_return true;
}

// A large message is read from the database, encoded and queued a piece at a time, the next
// only once the client has read most of what was queued before, so that the session holds
// about two pieces whatever the message's size and no other session waits for its whole
// encoding. The forced deletion is recorded first: as with a message sent whole, a client
// that has the message finds it marked. A body that cannot be read to its end once the first
// piece has gone ends the connection: the client must not take part of a message for all of
// it, and no reply may appear inside one.
asio::awaitable<void> Commands::SendRetrievedInPieces(const Loaded& loaded) {
  if (forceDelete_) {
    const bool marked =
        co_await drop_.MarkDeleted(loaded.number, data::ItemStatus::kRetrievedDeleted);
    if (marked) ++marked_;
  }
  const std::unique_ptr<data::BodyReader> reader = drop_.OpenBody(loaded.number);
  RetrievedPieces pieces(loaded.item.header, session_.HostName(), Stuffing(), drop_.Facts());
  // The first read comes before the status line, so that a body that cannot be read at all
  // gets the ordinary error reply.
  bool ended = !co_await FillPiece(*reader, pieces);
  Reply("+OK");
  std::size_t octets = 0;
  const auto piece = [&](std::string& out) {
    const std::size_t before = out.size();
    pieces.AppendNext(out, kRetrPieceOctets, ended);
    octets += out.size() - before;
  };
  try {
    while (!ended) {
      if (!session_.SendPart(piece)) co_return;
      co_await session_.Yield();
      if (session_.Terminating()) co_return;
      // A slow client may take longer over one message than a lock stays fresh.
      co_await KeepLock();
      ended = !co_await FillPiece(*reader, pieces);
    }
  } catch (const Failure& failure) {
    session_.Log(Severity::kFailure, "RETR " + std::to_string(loaded.number) +
                                         " ended the connection: " + ErrorLine(failure));
    session_.End();
    co_return;
  }
  if (!session_.SendComposed(piece)) co_return;
  session_.Count(Metrics::Counter::kMessagesRetrieved);
  session_.Count(Metrics::Counter::kOctetsRetrieved, octets);
}

// Reads what the next piece needs; false once the body has been read to its end.
asio::awaitable<bool> Commands::FillPiece(data::BodyReader& reader, RetrievedPieces& pieces) {
  // Only what is missing: the text held stays near one piece.
  for (std::size_t missing = pieces.Missing(kRetrPieceOctets); missing > 0;
       missing = pieces.Missing(kRetrPieceOctets)) {
    if (!co_await reader.ReadNext(pieces.Unsent(), missing)) co_return false;
  }
  co_return true;
}

// TOP of a message whose body was left in the database: its first `count` lines are read, a
// piece at a time, and no further; the whole body when it has fewer.
asio::awaitable<std::string> Commands::ReadTopLines(std::size_t n, std::int32_t count) {
  std::string text;
  if (count <= 0) co_return text;
  const std::unique_ptr<data::BodyReader> reader = drop_.OpenBody(n);
  std::size_t lineEnds = 0;
  while (lineEnds < static_cast<std::size_t>(count)) {
    const std::size_t before = text.size();
    if (!co_await reader->ReadNext(text, kRetrPieceOctets)) break;
    lineEnds += static_cast<std::size_t>(std::count(text.begin() + before, text.end(), '\n'));
  }
  co_return GetTopLines(text, count);
}

asio::awaitable<bool> Commands::CmdTop(const std::string& line) {
  const auto words = SplitWords(line);
  if (words.size() != 3 || !InTransaction()) {
    if (words.size() == 2) co_return false;
    ReplyNotValidInThisState();
    co_return true;
  }
  const auto lines = ParseDecimal(words[2]);
  if (!lines) co_return false;
  // TOP n 0 needs no body.
  const Loaded loaded = co_await LoadMessage(words[1], *lines == 0 ? 0 : kRetrPieceOctets);
  if (loaded.outcome != Loaded::Outcome::kItem) {
    co_return loaded.outcome == Loaded::Outcome::kReplied;
  }
  // The status line and the excerpt leave in one write; a failure in between still sends the
  // status line first.
  const auto batch = session_.GatherReplies();
  Reply("+OK");
  const std::string header =
      ComposeMessageHeader(loaded.item.header, session_.HostName(), drop_.Facts());
  if (*lines == 0) {
    session_.SendComposed([&](std::string& out) {
      AppendWireText(out, header, Stuffing());
      out.append(".");
    });
    co_return true;
  }
  const auto count = RoundToInt32(*lines);
  if (!count) RaiseRuntime(ErrorNumber::kOverflow);
  if (!loaded.item.body && !loaded.item.bodyLeft) RaiseRuntime(ErrorNumber::kInvalidUseOfNull);
  // Not a conditional expression: GCC 12 miscompiles one that holds a co_await.
  std::string excerpt;
  if (loaded.item.bodyLeft) {
    excerpt = co_await ReadTopLines(loaded.number, *count);
  } else {
    excerpt = GetTopLines(*loaded.item.body, *count);
  }
  session_.SendComposed([&](std::string& out) {
    AppendWireText(out, header, Stuffing());
    AppendWireText(out, excerpt, Stuffing());
    out.append("\r\n.");
  });
  co_return true;
}

}  // namespace talvex
