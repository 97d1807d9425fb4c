// The command table and the commands outside the mail drop: CAPA, USER, PASS and QUIT, the
// unknown-command reply, and the release of the mail drop at a session's end.
#include "session/commands.hpp"

#include <algorithm>
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
  co_await KeepLock();
  // A password line is taken before anything is logged.
  if (ToUpper(std::string_view(line).substr(0, 5)) == "PASS ") {
    const bool taken = co_await CmdPass(line);
    if (taken) {
      session_.CountCommand("PASS");
      co_return;
    }
  }
  session_.Log(Severity::kDetail, ansi::Decode(LoggedCommandLine(line)));
  if (line.size() > conformance_.MaxCommandLength()) {
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

// The list names exactly what this session does: the response codes only when they are on.
asio::awaitable<bool> Commands::CmdCapa(const std::string& /*line*/) {
  std::string reply = "+OK Capability list follows.\r\nUSER \r\nTOP \r\nUIDL";
  if (conformance_.respCodes) reply.append("\r\nRESP-CODES\r\nAUTH-RESP-CODE");
  // STLS is listed only where it can be used: a connection without TLS yet.
  if (session_.TlsOffered()) reply.append("\r\nSTLS");
  reply.append("\r\n.");
  Reply(reply);
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
    co_await LogIn(*account->email);
  } else {
    co_await RefuseLogIn();
  }
  co_return true;
}

asio::awaitable<void> Commands::LogIn(const std::string& email) {
  if (conformance_.lockBeforeOk) {
    // The lock comes first, so that "+OK" means the drop is this session's.
    const LockOutcome outcome = co_await drop_.Open(email);
    if (outcome != LockOutcome::kLocked) {
      // One attempt per connection, as for a bad password; the data layer has logged why.
      state_ = State::kClosing;
      ReplyError(outcome == LockOutcome::kInUse ? "[IN-USE]" : "[SYS/TEMP]",
                 "Unable to lock the mail drop.");
      co_return;
    }
  }
  Reply("+OK Well howdy pilgrim.");
  session_.Count(Metrics::Counter::kLoginsOk);
  session_.Log(Severity::kNotice, "Opened session for POP3 user '" + userName_ + "'");
  state_ = State::kTransaction;
  // Otherwise the reply has gone before the lock: a refused lock leaves an empty mail drop.
  if (!conformance_.lockBeforeOk) co_await drop_.Open(email);
  lockedAt_ = std::chrono::steady_clock::now();
}

// A lock counts as stale after 15 minutes, which the fixed session age never reaches. With the
// inactivity timer instead, an active session lives on, so it takes its lock again at the first
// command after a while: at least every five minutes, and at the latest when the client could
// have been quiet for the whole timeout, so that an active session never holds a stale lock.
// An empty drop's lock stops nobody and needs no renewal.
asio::awaitable<void> Commands::KeepLock() {
  constexpr std::chrono::seconds kRenewal{300};
  const auto every = std::min(conformance_.inactivityTimeout, kRenewal);
  if (every.count() == 0 || !InTransaction() || drop_.Count() == 0) co_return;
  const auto now = std::chrono::steady_clock::now();
  if (now - lockedAt_ < every) co_return;
  lockedAt_ = now;
  co_await drop_.Renew();  // a refusal is logged; the session goes on with what it holds
}

asio::awaitable<void> Commands::RefuseLogIn() {
  // The refusal waits for the penalty of the client's address, if the owner keeps any; the
  // dialogue closes only afterwards, so that nothing ends the session while it waits.
  co_await session_.PenalizeFailedLogIn();
  // One attempt per connection: the connection closes once the refusal has left.
  state_ = State::kClosing;
  ReplyError("[AUTH]", "Logon failure: unknown username or bad password.");
  session_.Count(Metrics::Counter::kLoginsFailed);
  session_.Log(Severity::kFailure, "Authentication of POP3 user '" + userName_ + "' failed");
}

asio::awaitable<bool> Commands::CmdQuit(const std::string& /*line*/) {
  if (drop_.Count() >= 1) {
    const bool removed = co_await drop_.RemoveDeleted();
    if (removed) session_.Count(Metrics::Counter::kItemsDeleted, marked_);
    const bool released = co_await drop_.Release();
    if (!removed && !released) ReplyError("[SYS/TEMP]", "Error deleting flagged messages");
  }
  state_ = State::kSignedOff;
  session_.SendComposed([](std::string& out) {
    out.append("+OK ").append(resources::ProductBanner()).append(" signing off.");
  });
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

void Commands::ReplyError(std::string_view code, std::string_view text) {
  std::string reply = "-ERR";
  if (conformance_.respCodes) reply.append(" ").append(code);
  if (!text.empty()) reply.append(" ").append(text);
  Reply(reply);
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
