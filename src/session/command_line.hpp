// The parts of a command line: words split at every single space; message-number arguments
// are read with platform/numbers.hpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/numbers.hpp"

namespace talvex {

// Splits at every single space; two adjacent spaces give an empty word.
std::vector<std::string> SplitWords(std::string_view line);

// Removes a trailing ".", then CR LF pairs at the start and at the end.
std::string CleanCommandLine(std::string text);

// The line as the log shows it: a client that sends "USER bob", a bare line break and
// "PASS secret" together gets one command line, and the argument of every PASS that follows a
// line break inside it is shown as "***", so that no password reaches the log.
std::string LoggedCommandLine(std::string_view line);

}  // namespace talvex
