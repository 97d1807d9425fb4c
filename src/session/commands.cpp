// Command dispatch and the AUTHORIZATION phase: every assembled line is logged (unless PASS
// takes it first), checked for length and handed to the handler of its command word; a line
// that no handler takes draws the unknown-command reply.
#include <algorithm>
#include <array>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <cctype>

#include "crypto/hash_text.hpp"
#include "platform/ansi.hpp"
#include "session/command_line.hpp"
#include "session/session.hpp"

namespace talvex {

namespace {

// Command lines longer than this (without CR LF) are refused.
constexpr std::size_t kMaxCommandLength = 45;

std::string Upper(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

// How a command word is recognised: the whole line, or the line's first characters.
enum class Match { Exact, Prefix };

struct Command {
  Match match;
  std::string_view word;
  asio::awaitable<bool> (Session::*handler)(const std::string& line);
};

}  // namespace

std::string CleanCommandLine(std::string text) {
  if (text.empty()) return text;
  if (text.back() == '.') text.pop_back();
  while (text.starts_with("\r\n")) text.erase(0, 2);
  while (text.ends_with("\r\n")) text.erase(text.size() - 2);
  return text;
}

void Session::ProcessCommand(std::string Line) {
  dispatching_ = true;
  asio::co_spawn(
      sckServer.get_executor(),
      [self = shared_from_this(), line = std::move(Line)]() mutable {
        return self->DispatchCommand(std::move(line));
      },
      asio::detached);
}

asio::awaitable<void> Session::DispatchCommand(std::string Line) {
  // Tried in this order; the first handler that takes the line ends the dispatch.
  static constexpr std::array<Command, 11> kCommands = {{
      {Match::Exact, "CAPA", &Session::CmdCapa},
      {Match::Prefix, "USER ", &Session::CmdUser},
      {Match::Exact, "STAT", &Session::CmdStat},
      {Match::Prefix, "LIST", &Session::CmdList},
      {Match::Prefix, "UIDL", &Session::CmdUidl},
      {Match::Prefix, "RETR ", &Session::CmdRetr},
      {Match::Prefix, "TOP ", &Session::CmdTop},
      {Match::Prefix, "DELE ", &Session::CmdDele},
      {Match::Exact, "RSET", &Session::CmdRset},
      {Match::Exact, "QUIT", &Session::CmdQuit},
      {Match::Exact, "NOOP", &Session::CmdNoop},
  }};
  const auto keepAlive = shared_from_this();
  try {
    Line.resize(Line.size() - 2);  // the CR LF
    // A password line is taken before anything is logged.
    if (Upper(std::string_view(Line).substr(0, 5)) == "PASS " && CmdPass(Line)) {
      Line.clear();
    } else {
      Log(7, ansi::Decode(Line));
      if (Line.size() > kMaxCommandLength) {
        SendResponse("-ERR Line too long.");
      } else {
        bool taken = false;
        const std::string upper = Upper(Line);
        for (const auto& command : kCommands) {
          const bool matches = command.match == Match::Exact ? upper == command.word
                                                             : upper.starts_with(command.word);
          if (matches && (taken = co_await (this->*command.handler)(Line))) break;
        }
        if (!taken) {
          if (Line.size() > 1) Line = CleanCommandLine(std::move(Line));
          if (!Line.empty()) CmdUnknown(Line);
        }
      }
    }
  } catch (const std::exception& error) {
    ReportInternalError(ToFailure(error));
  }
  dispatching_ = false;
  ReadNext();
}

asio::awaitable<bool> Session::CmdCapa(const std::string& /*line*/) {
  SendResponse("+OK Capability list follows.\r\nUSER \r\nTOP \r\nUIDL\r\n.");
  co_return true;
}

asio::awaitable<bool> Session::CmdUser(const std::string& line) {
  const auto words = SplitWords(line);
  if (words.size() != 2 || lState != AwaitingUser || words[1].empty()) co_return false;
  sUserName = ansi::Decode(words[1]);
  SendResponse("+OK Prove your worthiness.");
  lState = AwaitingPass;
  co_return true;
}

bool Session::CmdPass(const std::string& line) {
  const auto words = SplitWords(line);
  if (words.size() >= 2 && lState == AwaitingPass) {
    Recordset user = oDataHandler->GetP3UserDetails(sUserName);
    bool accepted = false;
    if (user.RecordCount() > 0 && !user.Fields("AcctDisabled").EqualsNumber(1)) {
      sPasswordHash =
          HashText(ansi::Decode(words[1]) + user.Fields("UserID").ToText() + sPasswordSalt);
      accepted = user.Fields("UserPassword").ToText() == sPasswordHash;
    }
    if (accepted) {
      sEmailAddress = user.Fields("Email").ToText();
      SendResponse("+OK Well howdy pilgrim.");
      Log(6, "Opened session for POP3 user '" + sUserName + "'");
      lState = Transaction;
      LoadMailDrop();
    } else {
      // One attempt per connection: the connection closes once the refusal has left.
      lState = Closing;
      SendResponse("-ERR Logon failure: unknown username or bad password.");
      Log(4, "Authentication of POP3 user '" + sUserName + "' failed");
    }
    return true;
  }
  if (words.size() == 2) {
    ReplyNotValidInThisState();
    return true;
  }
  return false;
}

void Session::CmdUnknown(const std::string& line) {
  SendResponse("-ERR Unknown command '" + line + "'.");
}

void Session::ReplyNotValidInThisState() {
  SendResponse("-ERR Command is not valid in this state.");
}

bool Session::SetSessionItemsStatus(bool ClearItems, std::int32_t Status) {
  if (!oDataHandler) return false;
  return oDataHandler->SetP3ItemsStatus(sSessionID, std::to_string(Status),
                                        ClearItems ? "-1" : "0");
}

// Locks the user's mail drop under this session and numbers its items from 1. A refused lock
// leaves the list empty: the client finds an empty mail drop.
void Session::LoadMailDrop() {
  if (!oDataHandler->LockP3MailDrop(sEmailAddress, sSessionID)) return;
  Recordset drop = oDataHandler->GetP3MailDrop(sEmailAddress, sSessionID);
  const auto n = static_cast<std::size_t>(std::max(drop.RecordCount(), 0));
  sItems.assign(1, std::string());
  if (n == 0) return;
  sItems.reserve(n + 1);
  drop.MoveFirst();
  for (std::size_t k = 1; k <= n; ++k) {
    sItems.push_back(drop.Fields("GWQID").ToText());
    drop.MoveNext();
  }
}

}  // namespace talvex
