// The TRANSACTION and UPDATE phases: STAT, LIST, UIDL, DELE, RSET, NOOP, QUIT, and retrieval
// with RETR and TOP. Sizes and identifiers are worked out from the data layer each time they
// are asked for; deletion marks live in the database as item statuses.
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>

#include "crypto/hash_text.hpp"
#include "platform/ansi.hpp"
#include "platform/resources.hpp"
#include "session/command_line.hpp"
#include "session/message_composer.hpp"
#include "session/session.hpp"

namespace talvex {

namespace {

// Item statuses this session writes.
constexpr const char* kStatusDeleted = "5";
constexpr const char* kStatusRetrievedDeleted = "6";
constexpr std::int32_t kStatusListed = 4;
constexpr std::int32_t kStatusWaiting = 0;

struct MessageArgument {
  enum Kind { NotNumeric, OutOfRange, Valid } kind;
  std::size_t number = 0;
};

MessageArgument ParseMessageNumber(const std::string& text, std::size_t count) {
  const auto value = ParseDecimal(text);
  if (!value) return {MessageArgument::NotNumeric};
  const auto n = RoundToInt32(*value);
  if (!n || *n < 1 || static_cast<std::size_t>(*n) > count) return {MessageArgument::OutOfRange};
  return {MessageArgument::Valid, static_cast<std::size_t>(*n)};
}

std::string SignOff() {
  return "+OK " + std::string(resources::LoadResString(resources::StringId::kProductLabel)) + " " +
         std::string(resources::kProductName) + " version " + std::string(resources::kVersionText) +
         " signing off.";
}

}  // namespace

void Session::ReplyOutOfRange() {
  SendResponse("-ERR The specified message is out of range.");
}

void Session::ReplyNoLongerAvailable() {
  SendResponse("-ERR The specified message is no longer available; it may have been deleted.");
}

asio::awaitable<void> Session::Yield() {
  co_await asio::post(sckServer.get_executor(), asio::use_awaitable);
}

Session::Loaded Session::LoadMessage(const std::string& argument) {
  const auto parsed = ParseMessageNumber(argument, MessageCount());
  if (parsed.kind == MessageArgument::NotNumeric) return {Loaded::NotNumeric};
  if (parsed.kind == MessageArgument::OutOfRange) {
    ReplyOutOfRange();
    return {Loaded::Replied};
  }
  rsItem = oDataHandler->GetP3MailItem(sItems[parsed.number]);
  if (rsItem.RecordCount() == 0) {
    ReplyNoLongerAvailable();
    return {Loaded::Replied};
  }
  return {Loaded::Item, parsed.number};
}

bool Session::LoadItemStats(std::size_t n) {
  rsItem = oDataHandler->GetP3ItemStats(sItems[n]);
  return rsItem.RecordCount() > 0;
}

// The octets RETR sends for the message: its header block plus the stored body.
std::int64_t Session::MessageSize() {
  const std::string header = ComposeMessageHeader(rsItem, sHostName);
  return static_cast<std::int64_t>(ansi::EncodedLength(header)) +
         rsItem.Fields("BodyLength").ToInt32();
}

// The stored identifier, or for an item without one the digest of its header block.
std::string Session::MessageIdentifier() {
  try {
    if (rsItem.Fields("MessageID").TextOrEmpty().empty()) {
      const std::string header = ComposeMessageHeader(rsItem, sHostName);
      rsItem.Fields("MessageID") = HashText(header);
    }
  } catch (const Failure&) {  // NOLINT(bugprone-empty-catch): the field is read below
  }
  return rsItem.Fields("MessageID").ToText();
}

asio::awaitable<std::optional<std::pair<std::int64_t, std::int64_t>>> Session::StatPass() {
  std::int64_t count = 0;
  std::int64_t total = 0;
  for (std::size_t n = 1; n <= MessageCount(); ++n) {
    if (LoadItemStats(n)) {
      total += MessageSize();
      ++count;
    }
    if (bTerminating) co_return std::nullopt;
    co_await Yield();
  }
  co_return std::make_pair(count, total);
}

asio::awaitable<bool> Session::CmdStat(const std::string& /*line*/) {
  if (lState != Transaction) {
    ReplyNotValidInThisState();
  } else if (MessageCount() == 0) {
    SendResponse("+OK 0 0");
  } else if (const auto stat = co_await StatPass()) {
    SendResponse("+OK " + std::to_string(stat->first) + " " + std::to_string(stat->second));
  }
  co_return true;
}

// LIST and UIDL have one shape: a whole listing without an argument (or with more than one),
// a single line with exactly one. They differ in the empty listing, the listing's first line and
// the value given for each message.
asio::awaitable<bool> Session::ListMessages(const std::string& line, Listing kind) {
  if (lState != Transaction) {
    ReplyNotValidInThisState();
    co_return true;
  }
  const auto value = [&] {
    return kind == Listing::Sizes ? std::to_string(MessageSize())
                                  : ansi::Encode(MessageIdentifier());
  };
  const auto words = SplitWords(line);
  const std::size_t arguments = words.size() - 1;
  if (arguments == 0 && MessageCount() == 0) {
    SendResponse(kind == Listing::Sizes ? "+OK 0 0\r\n." : "+OK\r\n.");
    co_return true;
  }
  if (arguments != 1) {
    if (kind == Listing::Sizes) {
      const auto stat = co_await StatPass();
      if (!stat) co_return true;
      SendResponse("+OK " + std::to_string(stat->first) + " " + std::to_string(stat->second));
    } else {
      SendResponse("+OK");
    }
    for (std::size_t n = 1; n <= MessageCount(); ++n) {
      if (!LoadItemStats(n)) continue;
      SendResponse(std::to_string(n) + " " + value());
      if (bTerminating) co_return true;
      co_await Yield();
    }
    SendResponse(".");
    co_return true;
  }
  const auto argument = ParseMessageNumber(words[1], MessageCount());
  if (argument.kind == MessageArgument::NotNumeric) co_return false;
  if (argument.kind == MessageArgument::OutOfRange) {
    ReplyOutOfRange();
  } else if (LoadItemStats(argument.number)) {
    SendResponse("+OK " + words[1] + " " + value());
  } else {
    ReplyNoLongerAvailable();
  }
  co_return true;
}

asio::awaitable<bool> Session::CmdList(const std::string& line) {
  co_return co_await ListMessages(line, Listing::Sizes);
}

asio::awaitable<bool> Session::CmdUidl(const std::string& line) {
  co_return co_await ListMessages(line, Listing::Identifiers);
}

asio::awaitable<bool> Session::CmdDele(const std::string& line) {
  const auto words = SplitWords(line);
  if (words.size() != 2 || lState != Transaction) {
    ReplyNotValidInThisState();
    co_return true;
  }
  const Loaded loaded = LoadMessage(words[1]);
  if (loaded.kind != Loaded::Item) co_return loaded.kind == Loaded::Replied;
  const bool marked = oDataHandler->UpdateP3ItemStatus(sItems[loaded.number], kStatusDeleted);
  SendResponse(marked ? "+OK" : "-ERR");
  co_return true;
}

asio::awaitable<bool> Session::CmdRset(const std::string& /*line*/) {
  if (lState != Transaction) {
    ReplyNotValidInThisState();
  } else if (MessageCount() == 0 || bForceDelete) {
    SendResponse("+OK");
  } else {
    SendResponse(SetSessionItemsStatus(false, kStatusListed) ? "+OK" : "-ERR");
  }
  co_return true;
}

asio::awaitable<bool> Session::CmdNoop(const std::string& /*line*/) {
  if (lState == Transaction) {
    SendResponse("+OK");
  } else {
    ReplyNotValidInThisState();
  }
  co_return true;
}

asio::awaitable<bool> Session::CmdQuit(const std::string& /*line*/) {
  if (MessageCount() >= 1) {
    const bool removed = oDataHandler->RemoveP3Items(sSessionID);
    const bool released = SetSessionItemsStatus(true, kStatusWaiting);
    if (!removed && !released) SendResponse("-ERR Error deleting flagged messages");
  }
  lState = Closing;
  SendResponse(SignOff());
  bQuitReceived = true;
  co_return true;
}

asio::awaitable<bool> Session::CmdRetr(const std::string& line) {
  const auto words = SplitWords(line);
  if (words.size() != 2 || lState != Transaction) {
    ReplyNotValidInThisState();
    co_return true;
  }
  const Loaded loaded = LoadMessage(words[1]);
  if (loaded.kind != Loaded::Item) co_return loaded.kind == Loaded::Replied;
  SendResponse("+OK");
  const std::string header = ComposeMessageHeader(rsItem, sHostName);
  SendResponse(ansi::Encode(header + rsItem.Fields("Body").TextOrEmpty() + "\r\n."));
  if (bForceDelete) {
    oDataHandler->UpdateP3ItemStatus(rsItem.Fields("GWQID").ToText(), kStatusRetrievedDeleted);
  }
  co_return true;
}

asio::awaitable<bool> Session::CmdTop(const std::string& line) {
  const auto words = SplitWords(line);
  if (words.size() != 3 || lState != Transaction) {
    if (words.size() == 2) co_return false;
    ReplyNotValidInThisState();
    co_return true;
  }
  const auto lines = ParseDecimal(words[2]);
  if (!lines) co_return false;
  const Loaded loaded = LoadMessage(words[1]);
  if (loaded.kind != Loaded::Item) co_return loaded.kind == Loaded::Replied;
  SendResponse("+OK");
  const std::string header = ComposeMessageHeader(rsItem, sHostName);
  if (*lines != 0) {
    const auto count = RoundToInt32(*lines);
    if (!count) RaiseRuntime(ErrorNumber::kOverflow);
    const std::string body = rsItem.Fields("Body").ToText();
    SendResponse(ansi::Encode(header + GetTopLines(body, *count) + "\r\n."));
  } else {
    SendResponse(ansi::Encode(header + "."));
  }
  co_return true;
}

}  // namespace talvex
