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

}  // namespace talvex
