// The failure type and the error line shared by every reporter of the component.
#include "platform/failure.hpp"

#include "platform/resources.hpp"

namespace talvex {

namespace {

std::string RuntimeDescription(ErrorNumber number) {
  switch (number) {
    case ErrorNumber::kOverflow:
      return "Overflow";
    case ErrorNumber::kSubscriptOutOfRange:
      return "Subscript out of range";
    case ErrorNumber::kTypeMismatch:
      return "Type mismatch";
    case ErrorNumber::kObjectNotSet:
      return "Object variable or With block variable not set";
    case ErrorNumber::kInvalidUseOfNull:
      return "Invalid use of Null";
    case ErrorNumber::kCannotCreateObject:
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
