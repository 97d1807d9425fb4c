// The component's one failure type: an error with source, number and description, raised
// where an operation fails and either handled where it occurs or passed to the caller.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/error_numbers.hpp"

namespace talvex {

class Failure : public std::runtime_error {
 public:
  Failure(std::string source, ErrorNumber number, std::string description);
  // For numbers of other systems (socket errors), which the enum does not list.
  Failure(std::string source, std::int32_t number, std::string description);

  const std::string& Source() const { return source_; }
  std::int32_t Number() const { return number_; }
  const std::string& Description() const { return description_; }
  bool Is(ErrorNumber number) const { return number_ == static_cast<std::int32_t>(number); }

 private:
  std::string source_;
  std::int32_t number_;
  std::string description_;
};

// The error line: source + ": " + number + ". " + description.
std::string ErrorLine(const Failure& failure);

// Any exception as the component's failure: a Failure stays itself, anything else (an engine
// error, an allocation failure) becomes an unspecified error carrying its message.
Failure ToFailure(const std::exception& error);

// Failures of the language runtime (overflow, type mismatch, invalid use of Null), raised
// under the component's own library name as their source.
[[noreturn]] void RaiseRuntime(ErrorNumber number);

}  // namespace talvex
