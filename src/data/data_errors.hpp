// What the data-access layer names as the source of its failures, and the numbers it gives
// them. Callers decide on the numbers: the generic provider error is logged as detail
// (MessageType 7), every other number as a failure (MessageType 4).
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/failure.hpp"

namespace talvex::data {

// Source of every failure that DataAccess raises: its library's name.
inline constexpr std::string_view kDataAccessSource = "SMS_Quillon";

namespace dberr {
// The engine failed: cannot open, corrupt, read-only, busy, constraint violated...
inline constexpr std::int32_t kProvider = errnum::kUnspecified;  // 0x80004005
// The procedure refused the call (raise_error), or the call does not fit the procedure:
// unknown procedure, missing or unknown parameter, unsupported command type.
inline constexpr std::int32_t kCommand = -2147217900;  // 0x80040E14
// A parameter value that cannot be converted to its declared type.
inline constexpr std::int32_t kConversion = -2147217913;  // 0x80040E07
// A parameter value too large for its declared type or size.
inline constexpr std::int32_t kOverflow = -2147217833;  // 0x80040E57
}  // namespace dberr

[[noreturn]] inline void Raise(std::int32_t number, std::string description) {
  throw Failure(std::string(kDataAccessSource), number, std::move(description));
}

}  // namespace talvex::data
