// Conversions of Variant values.
#include "platform/variant.hpp"

#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

#include "platform/ascii.hpp"
#include "platform/failure.hpp"
#include "platform/numbers.hpp"

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

// The integer value, or the Overflow failure when it does not fit.
template <typename Int>
Int Fitted(std::optional<Int> value) {
  if (!value) RaiseRuntime(ErrorNumber::kOverflow);
  return *value;
}

}  // namespace

std::string Variant::ToText() const {
  if (IsNull()) RaiseRuntime(ErrorNumber::kInvalidUseOfNull);
  return TextOrEmpty();
}

std::string Variant::TextOrEmpty() && {
  if (auto* text = std::get_if<std::string>(&value_)) return std::move(*text);
  return std::as_const(*this).TextOrEmpty();
}

std::string Variant::TextOrEmpty() const& {
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
      const auto parsed = ParseDecimal(v);
      if (!parsed) RaiseRuntime(ErrorNumber::kTypeMismatch);
      return *parsed;
    }
  };
  return std::visit(Visitor{}, value_);
}

template <typename Int>
Int Variant::ToInteger() const {
  if (IsInteger()) return Fitted(NarrowInteger<Int>(std::get<std::int64_t>(value_)));
  return Fitted(RoundToInteger<Int>(ToDouble()));
}

std::int64_t Variant::ToInt64() const {
  return ToInteger<std::int64_t>();
}

std::int32_t Variant::ToInt32() const {
  return ToInteger<std::int32_t>();
}

std::int16_t Variant::ToInt16() const {
  return ToInteger<std::int16_t>();
}

bool Variant::ToBool() const {
  if (IsBool()) return std::get<bool>(value_);
  if (IsText()) {
    const auto& text = std::get<std::string>(value_);
    if (EqualsIgnoreCase(text, "true")) return true;
    if (EqualsIgnoreCase(text, "false")) return false;
  }
  return ToDouble() != 0;
}

bool Variant::EqualsNumber(double number) const {
  if (IsNull()) return false;
  if (IsText()) {
    const auto parsed = ParseDecimal(std::get<std::string>(value_));
    return parsed && *parsed == number;
  }
  return ToDouble() == number;
}

}  // namespace talvex
