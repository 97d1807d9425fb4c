// Conversion of descriptor values to the declared parameter types.
#include "data/parameter.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "data/data_errors.hpp"
#include "platform/ansi.hpp"
#include "platform/date_text.hpp"

namespace talvex::data {

namespace {

enum class Kind { kInteger, kCurrency, kDate, kText };

struct TypeRule {
  AdType code;
  std::string_view name;
  Kind kind;
  std::int64_t min = 0;  // integer kinds only
  std::int64_t max = 0;
};

constexpr std::array<TypeRule, 7> kTypeRules = {{
    {AdType::kSmallInt, "adSmallInt", Kind::kInteger, std::numeric_limits<std::int16_t>::min(),
     std::numeric_limits<std::int16_t>::max()},
    {AdType::kInteger, "adInteger", Kind::kInteger, std::numeric_limits<std::int32_t>::min(),
     std::numeric_limits<std::int32_t>::max()},
    {AdType::kCurrency, "adCurrency", Kind::kCurrency},
    {AdType::kDate, "adDate", Kind::kDate},
    {AdType::kChar, "adChar", Kind::kText},
    {AdType::kVarChar, "adVarChar", Kind::kText},
    {AdType::kLongVarWChar, "adLongVarWChar", Kind::kText},
}};

// 2^63 as a double: the bound of what a 64-bit integer holds.
constexpr double kTwoTo63 = 9223372036854775808.0;

std::string Subject(const ParameterDescriptor& d, std::string_view typeName) {
  return "Parameter '" + d.name + "' (" + std::string(typeName) + ")";
}

// The value as a message shows it: texts quoted and shortened.
std::string Shown(const Variant& value) {
  if (!value.IsText()) return value.TextOrEmpty();
  const std::string& text = value.ToText();
  constexpr std::size_t kMost = 40;
  return "'" + (text.size() > kMost ? text.substr(0, kMost) + "..." : text) + "'";
}

bool IsOmitted(const Variant& value) {
  return value.IsEmpty() || (value.IsText() && value.ToText().empty());
}

double NumberOf(const ParameterDescriptor& d, const TypeRule& rule) {
  try {
    return d.value.ToDouble();
  } catch (const Failure&) {
    Raise(ErrorNumber::kDbConversion,
          Subject(d, rule.name) + ": " + Shown(d.value) + " is not a number");
  }
}

std::int64_t WholeNumber(const ParameterDescriptor& d, const TypeRule& rule) {
  // An integer goes through as it is, never through a double. Any other value is read as a
  // number first; exactly, as the integer types' ranges lie well within a double's.
  const bool integer = d.value.IsInteger();
  const double number = integer ? 0.0 : NumberOf(d, rule);
  if (!integer && number != std::trunc(number)) {
    Raise(ErrorNumber::kDbConversion,
          Subject(d, rule.name) + ": " + Shown(d.value) + " is not a whole number");
  }
  const bool fits =
      integer ? d.value.ToInt64() >= rule.min && d.value.ToInt64() <= rule.max
              : number >= static_cast<double>(rule.min) && number <= static_cast<double>(rule.max);
  if (!fits) {
    Raise(ErrorNumber::kDbOverflow, Subject(d, rule.name) + ": " + Shown(d.value) + " is outside " +
                                        std::to_string(rule.min) + " to " +
                                        std::to_string(rule.max));
  }
  return integer ? d.value.ToInt64() : static_cast<std::int64_t>(number);
}

Currency Money(const ParameterDescriptor& d, const TypeRule& rule) {
  // Four decimals are the type's precision; the nearest value, ties to even, is what the
  // currency type holds.
  const double scaled = std::nearbyint(NumberOf(d, rule) * 10000.0);
  if (scaled < -kTwoTo63 || scaled >= kTwoTo63) {
    Raise(ErrorNumber::kDbOverflow,
          Subject(d, rule.name) + ": " + Shown(d.value) + " is outside the currency range");
  }
  return Currency{static_cast<std::int64_t>(scaled)};
}

Timestamp DateTime(const ParameterDescriptor& d, const TypeRule& rule) {
  const auto parsed =
      d.value.IsText() ? ReadDateTime(d.value.ToText(), DateReading::kParameter) : std::nullopt;
  if (!parsed) {
    Raise(ErrorNumber::kDbConversion, Subject(d, rule.name) + ": " + Shown(d.value) +
                                          " is not a date-time of the form YYYY-MM-DD HH:MM:SS");
  }
  return Timestamp{FormatDateTimeText(*parsed)};
}

std::string Text(const ParameterDescriptor& d, const TypeRule& rule) {
  std::string text = d.value.ToText();
  if (d.size < 0) {
    Raise(ErrorNumber::kDbConversion,
          Subject(d, rule.name) + ": size " + std::to_string(d.size) + " is not valid");
  }
  const std::size_t length = utf16::Length(text);
  if (length > static_cast<std::size_t>(d.size)) {
    Raise(ErrorNumber::kDbOverflow, Subject(d, rule.name) + ": a text of " +
                                        std::to_string(length) + " characters does not fit in " +
                                        std::to_string(d.size));
  }
  return text;
}

}  // namespace

BoundParameter BindParameter(const ParameterDescriptor& d) {
  const auto rule = std::find_if(kTypeRules.begin(), kTypeRules.end(),
                                 [&](const TypeRule& r) { return r.code == d.type; });
  if (rule == kTypeRules.end()) {
    Raise(ErrorNumber::kDbConversion, "Parameter '" + d.name + "': type code " +
                                          std::to_string(static_cast<std::int32_t>(d.type)) +
                                          " is not supported");
  }
  BoundParameter bound{d.name, std::monostate{}, &d};
  if (d.value.IsNull() || (rule->kind != Kind::kText && IsOmitted(d.value))) return bound;
  switch (rule->kind) {
    case Kind::kInteger:
      bound.value = WholeNumber(d, *rule);
      break;
    case Kind::kCurrency:
      bound.value = Money(d, *rule);
      break;
    case Kind::kDate:
      bound.value = DateTime(d, *rule);
      break;
    case Kind::kText:
      bound.value = Text(d, *rule);
      break;
  }
  return bound;
}

}  // namespace talvex::data

namespace talvex {

ParameterDescriptor LongTextDescriptor(std::string name, const std::string& value) {
  return {std::move(name), AdType::kLongVarWChar,
          static_cast<std::int32_t>(utf16::Length(value) + 1), value};
}

}  // namespace talvex
