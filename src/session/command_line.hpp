// The parts of a command line: words split at every single space, and message-number
// arguments with their numeric test.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvex {

// Splits at every single space; two adjacent spaces give an empty word.
std::vector<std::string> SplitWords(std::string_view line);

// Removes a trailing ".", then CR LF pairs at the start and at the end.
std::string CleanCommandLine(std::string text);

// The value of a numeric argument (decimal, optionally signed, with a fraction or an
// exponent), or nullopt when the text is not numeric.
std::optional<double> NumericValue(std::string_view text);

// A numeric value as a 32-bit integer, a half rounding to the even neighbour; nullopt when it
// does not fit.
std::optional<std::int32_t> RoundToInt32(double value);

}  // namespace talvex
