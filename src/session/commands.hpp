// Commands: the POP3 dialogue of one session. Each command line the session assembles comes
// to ProcessCommand, which logs it (unless PASS takes it first), refuses it when too long and
// hands it to the function of its command word from a table; a line that no function takes
// draws the unknown-command reply. The dialogue's state, the user's name and the mail-drop
// view live here; replies go out through the session.
#pragma once

#include <asio/awaitable.hpp>
#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "data/maildrop_store.hpp"
#include "session/conformance.hpp"
#include "session/maildrop_view.hpp"
#include "session/message_composer.hpp"

namespace talvex {

class Session;

class Commands {
 public:
  enum class State {
    kAwaitingUser,  // greeted; only USER logs in
    kAwaitingPass,  // USER given; waiting for PASS
    kTransaction,   // logged in; the mail drop is open
    kClosing,       // the session closes once its replies have left
    kSignedOff,     // QUIT handed the mail drop back; closing as well
  };

  Commands(Session& session, MailDropView drop, bool forceDelete, Conformance conformance = {})
      : session_(session),
        drop_(std::move(drop)),
        forceDelete_(forceDelete),
        conformance_(conformance) {}

  // Deals with one command line (without its CR LF). Failures pass to the caller.
  asio::awaitable<void> ProcessCommand(std::string line);
  // A user has logged in: the dialogue is in the transaction state or has gone past it.
  bool LoggedIn() const { return state_ == State::kTransaction || state_ == State::kSignedOff; }
  // The session is to close once its replies have left.
  bool Closing() const { return state_ == State::kClosing || state_ == State::kSignedOff; }
  // At the session's end: hands back whatever the session locked, also when nobody logged in,
  // unless QUIT did so already.
  asio::awaitable<void> ReleaseMailDrop();
  // Renews the drop's lock when the session has held it for a while (see commands.cpp): at
  // each command, between the pieces of a long message, and while the client reads one.
  asio::awaitable<void> KeepLock();

 private:
  // A command function: true when it has dealt with the line, false to leave it to the next
  // entry of the table and in the end to the unknown-command reply.
  using Handler = asio::awaitable<bool> (Commands::*)(const std::string& line);
  struct Entry;
  // The commands in the order they are tried; the first function that takes a line ends it.
  static std::span<const Entry> Table();

  asio::awaitable<bool> CmdCapa(const std::string& line);
  asio::awaitable<bool> CmdUser(const std::string& line);
  asio::awaitable<bool> CmdPass(const std::string& line);
  asio::awaitable<bool> CmdStat(const std::string& line);
  asio::awaitable<bool> CmdList(const std::string& line);
  asio::awaitable<bool> CmdUidl(const std::string& line);
  asio::awaitable<bool> CmdRetr(const std::string& line);
  asio::awaitable<bool> CmdTop(const std::string& line);
  asio::awaitable<bool> CmdDele(const std::string& line);
  asio::awaitable<bool> CmdRset(const std::string& line);
  asio::awaitable<bool> CmdQuit(const std::string& line);
  asio::awaitable<bool> CmdNoop(const std::string& line);
  asio::awaitable<bool> CmdStls(const std::string& line);
  void CmdUnknown(const std::string& line);

  // Listings (transaction_commands.cpp).
  enum class Listing { kSizes, kIdentifiers };
  asio::awaitable<bool> ListMessages(const std::string& line, Listing kind);
  // Count and total size of the messages still shown; nullopt when the session began to end.
  struct Totals {
    std::int64_t count = 0;
    std::int64_t octets = 0;
  };
  asio::awaitable<std::optional<Totals>> StatPass(const MailDropView::Shown& shown);
  void ReplyTotals(const Totals& totals);
  // A listing's line for message `n`: `prefix`, its number as the client gave it or the
  // listing counts it, and its size or identifier.
  void ReplyListingLine(std::string_view number, const MailDropView::Listed& item, Listing kind,
                        std::string_view prefix);
  // The message that a command's argument names, loaded. Replies itself when the number is out
  // of range or the item is gone; a non-numeric argument is left to the unknown-command reply.
  struct Loaded {
    enum class Outcome { kItem, kReplied, kNotNumeric };
    Outcome outcome = Outcome::kReplied;
    std::size_t number = 0;
    data::MailItem item;
  };
  // The body comes along when it is at most `bodyUpTo` octets; a longer one is left in the
  // database (item.bodyLeft).
  asio::awaitable<Loaded> LoadMessage(std::string_view argument, std::int64_t bodyUpTo);
  // The same for DELE and RETR, which take exactly one argument, in the transaction state only.
  asio::awaitable<Loaded> LoadNamedMessage(const std::string& line, std::int64_t bodyUpTo);
  // RETR's reply for a message whose body was left in the database.
  asio::awaitable<void> SendRetrievedInPieces(const Loaded& loaded);
  asio::awaitable<bool> FillPiece(data::BodyReader& reader, RetrievedPieces& pieces);
  asio::awaitable<std::string> ReadTopLines(std::size_t n, std::int32_t count);

  bool InTransaction() const { return state_ == State::kTransaction; }
  DotStuffing Stuffing() const {
    return conformance_.dotStuffing ? DotStuffing::kOn : DotStuffing::kOff;
  }
  void Reply(std::string_view text);
  // A negative reply with the response code `code` in front of `text` when response codes are
  // on; `text` alone otherwise.
  void ReplyError(std::string_view code, std::string_view text);
  // PASS with a good password: the log-in, with the drop locked before or after the reply.
  asio::awaitable<void> LogIn(const std::string& email);
  asio::awaitable<void> RefuseLogIn();
  void ReplyNotValidInThisState();
  void ReplyOutOfRange();
  void ReplyNoLongerAvailable();
  // Refuses a log-in command on a connection that must negotiate TLS first; false when the
  // connection may log in.
  bool RefusedBeforeTls();

  Session& session_;
  MailDropView drop_;
  const bool forceDelete_;
  const Conformance conformance_;
  State state_ = State::kAwaitingUser;
  std::string userName_;
  std::uint64_t marked_ = 0;  // items marked deleted and not restored, for the metrics
  std::chrono::steady_clock::time_point lockedAt_;  // when the drop's lock was last taken
};

}  // namespace talvex
