// The failure type and the error line shared by every reporter of the component.
#include "platform/failure.hpp"

#include <array>
#include <string_view>
#include <utility>

#include "platform/resources.hpp"

namespace talvex {

namespace {

// The runtime's own descriptions of the failures it raises.
constexpr std::array<std::pair<ErrorNumber, std::string_view>, 6> kRuntimeDescriptions = {{
    {ErrorNumber::kOverflow, "Overflow"},
    {ErrorNumber::kSubscriptOutOfRange, "Subscript out of range"},
    {ErrorNumber::kTypeMismatch, "Type mismatch"},
    {ErrorNumber::kObjectNotSet, "Object variable or With block variable not set"},
    {ErrorNumber::kInvalidUseOfNull, "Invalid use of Null"},
    {ErrorNumber::kCannotCreateObject, "ActiveX component can't create object"},
}};

std::string RuntimeDescription(ErrorNumber number) {
  for (const auto& [known, description] : kRuntimeDescriptions) {
    if (known == number) return std::string(description);
  }
  return "Application-defined or object-defined error";
}

}  // namespace

Failure::Failure(std::string source, std::int32_t number, std::string description)
    : std::runtime_error(source + ": " + std::to_string(number) + ". " + description),
      source_(std::move(source)),
      number_(number),
      description_(std::move(description)) {}

Failure::Failure(std::string source, ErrorNumber number, std::string description)
    : Failure(std::move(source), static_cast<std::int32_t>(number), std::move(description)) {}

std::string ErrorLine(const Failure& failure) {
  return failure.what();
}

Failure ToFailure(const std::exception& error) {
  if (const auto* failure = dynamic_cast<const Failure*>(&error)) return *failure;
  return Failure(std::string(resources::kLibraryName), ErrorNumber::kUnspecified, error.what());
}

void RaiseRuntime(ErrorNumber number) {
  throw Failure(std::string(resources::kLibraryName), number, RuntimeDescription(number));
}

}  // namespace talvex
