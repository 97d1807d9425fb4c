// The command table and the commands outside the mail drop: CAPA, USER, PASS and QUIT, the
// unknown-command reply, and the release of the mail drop at a session's end.
#include "session/commands.hpp"

#include <array>

#include "crypto/password_digest.hpp"
#include "platform/ansi.hpp"
#include "platform/ascii.hpp"
#include "platform/failure.hpp"
#include "platform/resources.hpp"
#include "session/command_line.hpp"
#include "session/line_assembler.hpp"
#include "session/session.hpp"

namespace talvex {

// How a command word is recognised: the whole line, or the line's first characters.
struct Commands::Entry {
  enum class Match { kExact, kPrefix };
  Match match;
  std::string_view word;
  Handler handler;
};

std::span<const Commands::Entry> Commands::Table() {
  using Match = Entry::Match;
  static constexpr std::array<Entry, 12> kTable = {{
      {Match::kExact, "CAPA", &Commands::CmdCapa},
      {Match::kPrefix, "USER ", &Commands::CmdUser},
      {Match::kExact, "STAT", &Commands::CmdStat},
      {Match::kPrefix, "LIST", &Commands::CmdList},
      {Match::kPrefix, "UIDL", &Commands::CmdUidl},
      {Match::kPrefix, "RETR ", &Commands::CmdRetr},
      {Match::kPrefix, "TOP ", &Commands::CmdTop},
      {Match::kPrefix, "DELE ", &Commands::CmdDele},
      {Match::kExact, "RSET", &Commands::CmdRset},
      {Match::kExact, "QUIT", &Commands::CmdQuit},
      {Match::kExact, "NOOP", &Commands::CmdNoop},
      {Match::kExact, "STLS", &Commands::CmdStls},
  }};
  return kTable;
}

asio::awaitable<void> Commands::ProcessCommand(std::string line) {
  // A password line is taken before anything is logged.
  if (ToUpper(std::string_view(line).substr(0, 5)) == "PASS ") {
    const bool taken = co_await CmdPass(line);
    if (taken) {
      session_.CountCommand("PASS");
      co_return;
    }
  }
  session_.Log(Severity::kDetail, ansi::Decode(LoggedCommandLine(line)));
  if (line.size() > kMaxCommandLength) {
    Reply("-ERR Line too long.");
    co_return;
  }
  const std::string upper = ToUpper(line);
  for (const Entry& entry : Table()) {
    const bool matches =
        entry.match == Entry::Match::kExact ? upper == entry.word : upper.starts_with(entry.word);
    if (!matches) continue;
    const bool taken = co_await (this->*entry.handler)(line);
    if (taken) {
      session_.CountCommand(entry.word.substr(0, entry.word.find(' ')));
      co_return;
    }
  }
  session_.CountCommand("other");
  if (line.size() > 1) line = CleanCommandLine(std::move(line));
  if (!line.empty()) CmdUnknown(line);  // an empty line gets no reply at all
}

asio::awaitable<bool> Commands::CmdCapa(const std::string& /*line*/) {
  // STLS is listed only where it can be used: a connection without TLS yet.
  Reply(std::string("+OK Capability list follows.\r\nUSER \r\nTOP \r\nUIDL\r\n") +
        (session_.TlsOffered() ? "STLS\r\n." : "."));
  co_return true;
}

// Without TLS configured, STLS stays an unknown command as it always was.
asio::awaitable<bool> Commands::CmdStls(const std::string& /*line*/) {
  if (!session_.TlsConfigured()) co_return false;
  if (!session_.TlsOffered()) {
    Reply("-ERR Command not permitted when TLS active");
  } else if (state_ != State::kAwaitingUser) {
    ReplyNotValidInThisState();
  } else {
    Reply("+OK Begin TLS negotiation");
    session_.StartTls();
  }
  co_return true;
}

asio::awaitable<bool> Commands::CmdUser(const std::string& line) {
  const auto words = SplitWords(line);
  if (words.size() != 2 || state_ != State::kAwaitingUser || words[1].empty()) co_return false;
  if (RefusedBeforeTls()) co_return true;
  userName_ = ansi::Decode(words[1]);
  Reply("+OK Prove your worthiness.");
  state_ = State::kAwaitingPass;
  co_return true;
}

asio::awaitable<bool> Commands::CmdPass(const std::string& line) {
  const auto words = SplitWords(line);
  if (words.size() >= 2 && RefusedBeforeTls()) co_return true;
  if (words.size() < 2 || state_ != State::kAwaitingPass) {
    if (words.size() != 2) co_return false;
    ReplyNotValidInThisState();
    co_return true;
  }
  // Further words are ignored; the password is the first.
  const auto account = co_await drop_.Store().FindUser(userName_);
  if (account && !account->disabled &&
      account->userPassword == PasswordDigest(ansi::Decode(words[1]), account->userId)) {
    if (!account->email) RaiseRuntime(ErrorNumber::kInvalidUseOfNull);
    Reply("+OK Well howdy pilgrim.");
    session_.Count(Metrics::Counter::kLoginsOk);
    session_.Log(Severity::kNotice, "Opened session for POP3 user '" + userName_ + "'");
    state_ = State::kTransaction;
    // The reply has gone before the lock: a refused lock leaves an empty mail drop.
    co_await drop_.Open(*account->email);
  } else {
    // One attempt per connection: the connection closes once the refusal has left.
    state_ = State::kClosing;
    Reply("-ERR Logon failure: unknown username or bad password.");
    session_.Count(Metrics::Counter::kLoginsFailed);
    session_.Log(Severity::kFailure, "Authentication of POP3 user '" + userName_ + "' failed");
  }
  co_return true;
}

asio::awaitable<bool> Commands::CmdQuit(const std::string& /*line*/) {
  if (drop_.Count() >= 1) {
    const bool removed = co_await drop_.RemoveDeleted();
    if (removed) session_.Count(Metrics::Counter::kItemsDeleted, marked_);
    const bool released = co_await drop_.Release();
    if (!removed && !released) Reply("-ERR Error deleting flagged messages");
  }
  state_ = State::kSignedOff;
  Reply("+OK " + resources::ProductBanner() + " signing off.");
  co_return true;
}

void Commands::CmdUnknown(const std::string& line) {
  Reply("-ERR Unknown command '" + line + "'.");
}

asio::awaitable<void> Commands::ReleaseMailDrop() {
  // The result is not looked at: a failure has been logged, and the session ends either way.
  if (state_ == State::kSignedOff) co_return;
  co_await drop_.Release();
}

void Commands::Reply(std::string_view text) {
  session_.SendResponse(text);
}

void Commands::ReplyNotValidInThisState() {
  Reply("-ERR Command is not valid in this state.");
}

void Commands::ReplyOutOfRange() {
  Reply("-ERR The specified message is out of range.");
}

bool Commands::RefusedBeforeTls() {
  if (!session_.TlsMissing()) return false;
  Reply("-ERR Command not permitted before STLS");
  return true;
}

void Commands::ReplyNoLongerAvailable() {
  Reply("-ERR The specified message is no longer available; it may have been deleted.");
}

}  // namespace talvex
