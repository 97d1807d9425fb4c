// Words and numbers of command lines.
#include "session/command_line.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/variant.hpp"

namespace talvex {

std::vector<std::string> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  std::size_t start = 0;
  for (;;) {
    const std::size_t space = line.find(' ', start);
    words.emplace_back(line.substr(start, space - start));
    if (space == std::string_view::npos) break;
    start = space + 1;
  }
  return words;
}

std::string CleanCommandLine(std::string text) {
  if (text.empty()) return text;
  if (text.back() == '.') text.pop_back();
  while (text.starts_with("\r\n")) text.erase(0, 2);
  while (text.ends_with("\r\n")) text.erase(text.size() - 2);
  return text;
}

std::optional<double> NumericValue(std::string_view text) {
  std::size_t i = 0;
  const auto skipSpaces = [&] {
    while (i < text.size() && text[i] == ' ') ++i;
  };
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    return i - from;
  };
  skipSpaces();
  const std::size_t begin = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return std::nullopt;
  }
  const std::size_t end = i;
  skipSpaces();
  if (i != text.size()) return std::nullopt;
  const std::string number(text.substr(begin, end - begin));
  const double value = std::strtod(number.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<std::int32_t> RoundToInt32(double value) {
  if (value < std::numeric_limits<std::int32_t>::min() - 0.5 ||
      value > std::numeric_limits<std::int32_t>::max() + 0.5) {
    return std::nullopt;
  }
  try {
    return Variant(value).ToInt32();
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace talvex
