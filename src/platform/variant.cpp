// Conversions of Variant values.
#include "platform/variant.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

#include "platform/failure.hpp"

namespace talvex {

namespace {

std::string FormatDouble(double value) {
  if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15) {
    return std::to_string(static_cast<std::int64_t>(value));
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

std::optional<double> ParseNumber(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  const auto last = text.find_last_not_of(" \t");
  const std::string trimmed = text.substr(first, last - first + 1);
  const char* begin = trimmed.c_str();
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(begin, &end);
  if (end != begin + trimmed.size() || errno == ERANGE || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// Round half to even, as the automation conversions do.
double RoundBankers(double value) {
  const double floor = std::floor(value);
  const double diff = value - floor;
  if (diff > 0.5) return floor + 1;
  if (diff < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1;
}

template <typename Int>
Int Narrow(double value) {
  const double rounded = RoundBankers(value);
  if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<Int>::max())) {
    RaiseRuntime(ErrorNumber::kOverflow);
  }
  return static_cast<Int>(rounded);
}

template <typename Int>
Int NarrowInt(std::int64_t value) {
  if (value < std::numeric_limits<Int>::min() || value > std::numeric_limits<Int>::max()) {
    RaiseRuntime(ErrorNumber::kOverflow);
  }
  return static_cast<Int>(value);
}

}  // namespace

std::string Variant::ToText() const {
  if (IsNull()) RaiseRuntime(ErrorNumber::kInvalidUseOfNull);
  return TextOrEmpty();
}

std::string Variant::TextOrEmpty() const {
  struct Visitor {
    std::string operator()(const EmptyValue&) const { return {}; }
    std::string operator()(const NullValue&) const { return {}; }
    std::string operator()(bool v) const { return v ? "True" : "False"; }
    std::string operator()(std::int64_t v) const { return std::to_string(v); }
    std::string operator()(double v) const { return FormatDouble(v); }
    std::string operator()(const std::string& v) const { return v; }
  };
  return std::visit(Visitor{}, value_);
}

double Variant::ToDouble() const {
  struct Visitor {
    double operator()(const EmptyValue&) const { return 0; }
    double operator()(const NullValue&) const { RaiseRuntime(ErrorNumber::kInvalidUseOfNull); }
    double operator()(bool v) const { return v ? -1 : 0; }
    double operator()(std::int64_t v) const { return static_cast<double>(v); }
    double operator()(double v) const { return v; }
    double operator()(const std::string& v) const {
      const auto parsed = ParseNumber(v);
      if (!parsed) RaiseRuntime(ErrorNumber::kTypeMismatch);
      return *parsed;
    }
  };
  return std::visit(Visitor{}, value_);
}

std::int64_t Variant::ToInt64() const {
  if (IsInteger()) return std::get<std::int64_t>(value_);
  return Narrow<std::int64_t>(ToDouble());
}

std::int32_t Variant::ToInt32() const {
  if (IsInteger()) return NarrowInt<std::int32_t>(std::get<std::int64_t>(value_));
  return Narrow<std::int32_t>(ToDouble());
}

std::int16_t Variant::ToInt16() const {
  if (IsInteger()) return NarrowInt<std::int16_t>(std::get<std::int64_t>(value_));
  return Narrow<std::int16_t>(ToDouble());
}

bool Variant::ToBool() const {
  if (IsBool()) return std::get<bool>(value_);
  if (IsText()) {
    const auto& text = std::get<std::string>(value_);
    std::string lower;
    for (const char c : text)
      lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "true") return true;
    if (lower == "false") return false;
  }
  return ToDouble() != 0;
}

bool Variant::EqualsNumber(double number) const {
  if (IsNull()) return false;
  if (IsText()) {
    const auto parsed = ParseNumber(std::get<std::string>(value_));
    return parsed && *parsed == number;
  }
  return ToDouble() == number;
}

}  // namespace talvex
