// The decimal grammar and half-to-even rounding.
#include "platform/numbers.hpp"

#include <cmath>
#include <cstdlib>
#include <string>

namespace talvex {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads text[at...] while it is a decimal digit; the number of digits read.
std::size_t SkipDigits(std::string_view text, std::size_t& at) {
  const std::size_t from = at;
  while (at < text.size() && IsDigit(text[at])) ++at;
  return at - from;
}

bool SkipAny(std::string_view text, std::size_t& at, std::string_view characters) {
  if (at >= text.size() || characters.find(text[at]) == std::string_view::npos) return false;
  ++at;
  return true;
}

// The length of the number at the start of the text (sign, mantissa, exponent), or 0.
std::size_t NumberLength(std::string_view text) {
  std::size_t at = 0;
  SkipAny(text, at, "+-");
  std::size_t mantissa = SkipDigits(text, at);
  if (SkipAny(text, at, ".")) mantissa += SkipDigits(text, at);
  if (mantissa == 0) return 0;
  if (SkipAny(text, at, "eE")) {
    SkipAny(text, at, "+-");
    if (SkipDigits(text, at) == 0) return 0;
  }
  return at;
}

}  // namespace

std::optional<double> ParseDecimal(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::nullopt;
  text.remove_prefix(first);
  const std::size_t length = NumberLength(text);
  if (length == 0 || text.find_first_not_of(' ', length) != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string number(text.substr(0, length));
  const double value = std::strtod(number.c_str(), nullptr);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

double RoundHalfEven(double value) {
  const double floor = std::floor(value);
  const double diff = value - floor;
  if (diff > 0.5) return floor + 1;
  if (diff < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1;
}

}  // namespace talvex
