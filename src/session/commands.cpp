// Command dispatch: every assembled line is logged, checked for length and handed to the
// handler of its command word; a line that no handler takes draws the unknown-command reply.
#include <algorithm>
#include <array>
#include <cctype>

#include "platform/ansi.hpp"
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
  bool (Session::*handler)(const std::string& line);
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
  try {
    Line.resize(Line.size() >= 2 ? Line.size() - 2 : 0);
    Log(7, ansi::decode(Line));
    if (Line.size() > kMaxCommandLength) {
      SendResponse("-ERR Line too long.");
      return;
    }
    static constexpr std::array<Command, 1> kCommands = {{
        {Match::Exact, "CAPA", &Session::CmdCapa},
    }};
    const std::string upper = Upper(Line);
    for (const auto& command : kCommands) {
      const bool matches =
          command.match == Match::Exact ? upper == command.word : upper.starts_with(command.word);
      if (matches && (this->*command.handler)(Line)) return;
    }
    if (Line.size() > 1) Line = CleanCommandLine(std::move(Line));
    if (!Line.empty()) CmdUnknown(Line);
  } catch (const std::exception& error) {
    ReportInternalError(ToFailure(error));
  }
}

bool Session::CmdCapa(const std::string& /*line*/) {
  SendResponse("+OK Capability list follows.\r\nUSER \r\nTOP \r\nUIDL\r\n.");
  return true;
}

void Session::CmdUnknown(const std::string& line) {
  SendResponse("-ERR Unknown command '" + line + "'.");
}

}  // namespace talvex
