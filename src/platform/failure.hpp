// The component's one failure type: an error with source, number and description, raised
// where an operation fails and either handled where it occurs or passed to the caller.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace talvex {

// Error numbers that the component prints or decides on.
namespace errnum {
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kSubscriptOutOfRange = 9;
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kObjectNotSet = 91;
inline constexpr std::int32_t kInvalidUseOfNull = 94;
inline constexpr std::int32_t kInvalidProperty = 380;
inline constexpr std::int32_t kInvalidOperation = 40020;
inline constexpr std::int32_t kCannotCreateObject = 429;
inline constexpr std::int32_t kAddressInUse = 10048;
inline constexpr std::int32_t kUnspecified = -2147467259;      // 0x80004005
inline constexpr std::int32_t kModuleNotFound = -2147024770;   // 0x8007007E
inline constexpr std::int32_t kDataHandlerCreate = -20042304;  // 0xFECE2DC0
}  // namespace errnum

class Failure : public std::runtime_error {
 public:
  Failure(std::string source, std::int32_t number, std::string description);

  const std::string& Source() const { return source_; }
  std::int32_t Number() const { return number_; }
  const std::string& Description() const { return description_; }

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
[[noreturn]] void RaiseRuntime(std::int32_t number);

}  // namespace talvex
