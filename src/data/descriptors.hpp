// The descriptor shapes that the DataHandler operations build again and again, one function
// each, so that an operation's parameter list reads as the procedure's signature: the name,
// the ADO type and the size, with the caller's text as the value.
#pragma once

#include <cstdint>
#include <string>

#include "data/parameter.hpp"

namespace talvex::descriptor {

inline ParameterDescriptor Text(const char* name, std::int32_t size, const std::string& value) {
  return {name, AdType::kVarChar, size, value};
}

inline ParameterDescriptor Char(const char* name, std::int32_t size, const std::string& value) {
  return {name, AdType::kChar, size, value};
}

inline ParameterDescriptor SmallInt(const char* name, const std::string& value) {
  return {name, AdType::kSmallInt, 2, value};
}

inline ParameterDescriptor Integer(const char* name, const std::string& value) {
  return {name, AdType::kInteger, 4, value};
}

// "I" inbound or "O" outbound.
inline ParameterDescriptor Direction(const std::string& direction) {
  return Char("Direction", 1, direction);
}

// An empty date cannot pass as a date: it goes as a one-character text, which the procedure
// reads as "not given".
inline ParameterDescriptor DateOrEmpty(const char* name, const std::string& value) {
  if (value.empty()) return Text(name, 1, value);
  return {name, AdType::kDate, 8, value};
}

}  // namespace talvex::descriptor
