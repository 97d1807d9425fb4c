// What every command of talvex-admin shares: its exit codes, how it refuses, the action that a
// parsed command line leaves to run, and the data layer whose failure lines become reasons.
#pragma once

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "data/data_handler.hpp"
#include "exit_codes.hpp"
#include "platform/ansi.hpp"
#include "platform/environment.hpp"

namespace talvex::apps {

// Prints the reason of a refusal on stderr; gives the exit code.
inline int Refuse(const std::string& reason) {
  std::cerr << "talvex-admin: " << reason << "\n";
  return kExitRefused;
}

// Header fields go into the message's header block as they are: a CR or LF would start a line
// of its own, a forged header or a protocol line. (A command line cannot carry NUL.)
inline CLI::Validator HeaderText() {
  return {[](const std::string& value) {
            return value.find_first_of("\r\n") == std::string::npos
                       ? std::string()
                       : std::string("holds CR or LF; a header field is one line of text");
          },
          "ONE LINE"};
}

inline bool IsUtf8(std::string_view text) {
  return utf16::ToUtf8(utf16::FromUtf8(text)) == text;
}

// Reads a message body from `file` when one is named, else from stdin unless `given` says the
// body came as an option. The reason when the file cannot be read.
inline std::optional<std::string> ReadBody(const std::string& file, bool given, std::string& body) {
  if (!file.empty()) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return "cannot read body file '" + file + "': " + std::strerror(errno);
    body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return "cannot read body file '" + file + "'";
  } else if (!given) {
    body.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  return std::nullopt;
}

// The work of the subcommand that was given, set while the command line is parsed.
using Action = std::function<int(const Environment& env)>;

// Makes `run` the action when the subcommand is given; returns the subcommand.
inline CLI::App* OnGiven(CLI::App* sub, Action& action, Action run) {
  sub->callback([&action, run = std::move(run)] { action = run; });
  return sub;
}

// A DataHandler whose failure lines become the reason printed on refusal.
struct Data {
  explicit Data(const Environment& env) : handler(env) {
    handler.SetEventLog(
        [this](Severity, std::string_view, std::string_view message) { lastError = message; });
  }
  DataHandler handler;
  std::string lastError;
};

}  // namespace talvex::apps
