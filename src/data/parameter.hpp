// Parameter descriptors of a stored-procedure call (name, ADO type code, size, value) and the
// rules by which a value is checked against its declared type and size and converted before
// any database backend sees it. Nothing is cut, padded or rounded to fit: a value that does not
// fit fails the call with a description that names the parameter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "platform/variant.hpp"

namespace talvex {

// ADO data-type codes of the descriptors. Other codes may be passed (static_cast); binding
// refuses them.
enum class AdType : std::int32_t {
  kSmallInt = 2,
  kInteger = 3,
  kCurrency = 6,
  kDate = 7,
  kChar = 129,
  kVarChar = 200,
  kLongVarWChar = 203,
};

// The command type of every call: a stored procedure (adCmdStoredProc).
inline constexpr std::int32_t kCmdStoredProc = 4;

struct ParameterDescriptor {
  std::string name;  // the procedure's parameter name, without prefix
  AdType type;
  std::int32_t size;  // for texts the most characters (UTF-16 code units) the value may have
  Variant value;      // usually the caller's text; converting it is the binding's work
};

// A long text (adLongVarWChar) sized to its value: its characters plus one.
ParameterDescriptor LongTextDescriptor(std::string name, const std::string& value);

namespace data {

// Money in ten-thousandths, the precision of the currency type.
struct Currency {
  std::int64_t tenThousandths = 0;
  bool operator==(const Currency&) const = default;
};

// A date-time as "YYYY-MM-DD HH:MM:SS".
struct Timestamp {
  std::string text;
  bool operator==(const Timestamp&) const = default;
};

// A value ready for a backend; monostate is SQL NULL.
using BoundValue = std::variant<std::monostate, std::int64_t, Currency, Timestamp, std::string>;

struct BoundParameter {
  std::string_view name;  // refers to the descriptor's name
  BoundValue value;
  // The descriptor it was bound from, valid during the call: its declared type and size (what
  // an engine with typed parameters declares) and the caller's value as given.
  const ParameterDescriptor* descriptor = nullptr;
};

// Converts a descriptor's value by its type code:
// - Null gives NULL for every type; Empty and the empty text give NULL for the numeric and
//   date types (an omitted optional argument) and the empty text for the text types.
// - 2 and 3: a whole number within 16 or 32 bits; 6: a number within the currency range,
//   kept to four decimals; 7: a text "YYYY-MM-DD", optionally followed by a space or "T" and
//   "HH:MM" or "HH:MM:SS", naming a real date and time.
// - 129, 200, 203: the value as text, at most `size` characters.
// Raises ErrorNumber::kDbConversion for a value of the wrong kind or an unknown type code and
// ErrorNumber::kDbOverflow for a value out of range or too long.
BoundParameter BindParameter(const ParameterDescriptor& descriptor);

}  // namespace data

}  // namespace talvex
