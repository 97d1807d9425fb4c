// What every command of talvex-admin shares: its exit codes, how it refuses, and the action
// that a parsed command line leaves to run.
#pragma once

#include <functional>
#include <iostream>
#include <string>

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

}  // namespace talvex::apps
