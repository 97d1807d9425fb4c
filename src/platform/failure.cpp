// The failure type and the error line shared by every reporter of the component.
#include "platform/failure.hpp"

#include "platform/resources.hpp"

namespace talvex {

namespace {

std::string RuntimeDescription(std::int32_t number) {
  switch (number) {
    case errnum::kOverflow:
      return "Overflow";
    case errnum::kSubscriptOutOfRange:
      return "Subscript out of range";
    case errnum::kTypeMismatch:
      return "Type mismatch";
    case errnum::kObjectNotSet:
      return "Object variable or With block variable not set";
    case errnum::kInvalidUseOfNull:
      return "Invalid use of Null";
    case errnum::kCannotCreateObject:
      return "ActiveX component can't create object";
    default:
      return "Application-defined or object-defined error";
  }
}

}  // namespace

Failure::Failure(std::string source, std::int32_t number, std::string description)
    : std::runtime_error(source + ": " + std::to_string(number) + ". " + description),
      source_(std::move(source)),
      number_(number),
      description_(std::move(description)) {}

std::string ErrorLine(const Failure& failure) {
  return failure.what();
}

Failure ToFailure(const std::exception& error) {
  if (const auto* failure = dynamic_cast<const Failure*>(&error)) return *failure;
  return Failure(std::string(resources::kLibraryName), errnum::kUnspecified, error.what());
}

void RaiseRuntime(std::int32_t number) {
  throw Failure(std::string(resources::kLibraryName), number, RuntimeDescription(number));
}

}  // namespace talvex
