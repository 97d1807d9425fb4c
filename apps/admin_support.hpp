// What every command of talvex-admin shares: its exit codes, how it refuses, the action that a
// parsed command line leaves to run, and the data layer whose failure lines become reasons.
#pragma once

#include <functional>
#include <iostream>
#include <string>
#include <string_view>

#include "data/data_handler.hpp"
#include "exit_codes.hpp"
#include "platform/environment.hpp"

namespace talvex::apps {

// Prints the reason of a refusal on stderr; gives the exit code.
inline int Refuse(const std::string& reason) {
  std::cerr << "talvex-admin: " << reason << "\n";
  return kExitRefused;
}

// The work of the subcommand that was given, set while the command line is parsed.
using Action = std::function<int(const Environment& env)>;

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
