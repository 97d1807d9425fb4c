// What the data-access layer names as the source of its failures, and how it raises them
// (numbers ErrorNumber::kDb...). Callers decide on the numbers: the generic provider error is
// logged as detail, every other number as a failure.
#pragma once

#include <string_view>

#include "platform/failure.hpp"

namespace talvex::data {

// Source of every failure that DataAccess raises: its library's name.
inline constexpr std::string_view kDataAccessSource = "SMS_Quillon";

[[noreturn]] inline void Raise(ErrorNumber number, std::string description) {
  throw Failure(std::string(kDataAccessSource), number, std::move(description));
}

}  // namespace talvex::data
