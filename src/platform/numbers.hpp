// Numbers read from text and the narrowing of numbers to integers. One decimal grammar serves
// every text that the component reads as a number (command arguments, Variant texts,
// parameter values): optional spaces, an optional sign, digits with an optional fraction (at
// least one digit in all), an optional exponent, optional spaces. Hexadecimal, "inf" and
// "nan" are not numbers. Integers are reached by rounding half to even, as the automation
// conversions do; a value that does not fit the integer is an overflow.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace talvex {

// The value of a decimal text, or nullopt when the text does not follow the grammar or its
// value is beyond a double.
std::optional<double> ParseDecimal(std::string_view text);

// The nearest whole number, a half going to the even neighbour.
double RoundHalfEven(double value);

// The rounded value as an Int, or nullopt when it does not fit.
template <typename Int>
std::optional<Int> RoundToInteger(double value) {
  const double rounded = RoundHalfEven(value);
  // -min is a power of two, exact as a double, and the first value past max.
  constexpr double kLowest = static_cast<double>(std::numeric_limits<Int>::min());
  if (!(rounded >= kLowest && rounded < -kLowest)) return std::nullopt;
  return static_cast<Int>(rounded);
}

inline std::optional<std::int32_t> RoundToInt32(double value) {
  return RoundToInteger<std::int32_t>(value);
}

// The integer as an Int, or nullopt when it does not fit.
template <typename Int>
std::optional<Int> NarrowInteger(std::int64_t value) {
  if (value < std::numeric_limits<Int>::min() || value > std::numeric_limits<Int>::max()) {
    return std::nullopt;
  }
  return static_cast<Int>(value);
}

}  // namespace talvex
