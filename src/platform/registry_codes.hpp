// The codes of registry calls: the roots and value types that RegLib's callers pass, the
// statuses that every registry operation returns and the value types the store keeps. Each is
// an enum with the platform's numbers; a number not listed (an unknown root or type asked for,
// any other OS status) is still a value of its enum, so callers pass and compare them as they
// come.
#pragma once

#include <cstdint>

namespace talvex {

// ParentKey codes.
enum class RegRoot : std::int32_t {
  kClassesRoot = 0,
  kCurrentUser = 1,
  kLocalMachine = 2,
  kUsers = 3,
  kCurrentConfig = 4,
};

// ValueType codes of RegLib's operations.
enum class RegValueType : std::int32_t {
  kText = 0,     // "S": REG_SZ
  kBoolean = 1,  // "B": REG_BINARY of 2 bytes
  kWord = 2,     // "D": REG_DWORD from a 16-bit value
};

// Results of registry operations: the platform registry's status codes.
enum class RegStatus : std::int32_t {
  kSuccess = 0,
  kNotFound = 2,      // key or value does not exist
  kAccessDenied = 5,  // e.g. deleting a key that has subkeys
  kNoRoot = 99,       // the root is unknown or nothing reached the registry
  kMoreData = 234,    // the value is larger than the buffer
  kIoFailed = 1016,   // the store file cannot be read or written
};

// Value types as the registry stores them.
enum class RegType : std::int32_t {
  kString = 1,  // REG_SZ
  kBinary = 3,  // REG_BINARY
  kDword = 4,   // REG_DWORD
};

}  // namespace talvex
