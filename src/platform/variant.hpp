// Variant: the automation value that the data layer, the registry and the crypto class pass
// around. It holds nothing (Empty), Null, a Boolean, an integer, a floating number or a text
// (UTF-8). Conversions follow the automation rules: Null cannot become a text or a number,
// numbers round half to even, values that do not fit overflow.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace talvex {

class Variant {
 public:
  struct EmptyValue {
    bool operator==(const EmptyValue&) const = default;
  };
  struct NullValue {
    bool operator==(const NullValue&) const = default;
  };

  Variant() = default;
  Variant(bool value) : value_(value) {}                      // NOLINT(google-explicit-constructor)
  Variant(int value) : value_(std::int64_t{value}) {}         // NOLINT(google-explicit-constructor)
  Variant(std::int64_t value) : value_(value) {}              // NOLINT(google-explicit-constructor)
  Variant(double value) : value_(value) {}                    // NOLINT(google-explicit-constructor)
  Variant(std::string value) : value_(std::move(value)) {}    // NOLINT(google-explicit-constructor)
  Variant(const char* value) : value_(std::string(value)) {}  // NOLINT(google-explicit-constructor)

  static Variant Null() {
    Variant v;
    v.value_ = NullValue{};
    return v;
  }

  bool IsEmpty() const { return std::holds_alternative<EmptyValue>(value_); }
  bool IsNull() const { return std::holds_alternative<NullValue>(value_); }
  bool IsBool() const { return std::holds_alternative<bool>(value_); }
  bool IsInteger() const { return std::holds_alternative<std::int64_t>(value_); }
  bool IsText() const { return std::holds_alternative<std::string>(value_); }

  // Text form: Empty gives "", Booleans "True"/"False", numbers in decimal. Null raises
  // "Invalid use of Null".
  std::string ToText() const;
  // As ToText, but Null gives "" (how a value joins a concatenation).
  std::string TextOrEmpty() const&;
  // The same of a value that is read for the last time: a text is moved out, not copied.
  std::string TextOrEmpty() &&;
  // Numeric conversions: texts are parsed as numbers, fractions round half to even; Null
  // raises "Invalid use of Null", a non-numeric text "Type mismatch", a value out of range
  // "Overflow".
  std::int16_t ToInt16() const;
  std::int32_t ToInt32() const;
  std::int64_t ToInt64() const;
  double ToDouble() const;
  // Boolean: numbers are True when not zero; texts "True"/"False" (any case) or numeric.
  bool ToBool() const;

  // Automation equality with a number: Empty counts as 0, Null equals nothing, a numeric text
  // compares by value, any other text equals nothing.
  bool EqualsNumber(double number) const;

  // Strict equality of kind and value (for tests and caches).
  bool operator==(const Variant&) const = default;

 private:
  template <typename Int>
  Int ToInteger() const;

  std::variant<EmptyValue, NullValue, bool, std::int64_t, double, std::string> value_;
};

}  // namespace talvex
