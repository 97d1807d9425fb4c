// Every error number that the component prints or decides on, in one enum: the runtime's own
// errors, the host's, the data-access layer's and the record sets'. Numbers are those the
// suite's other programs know them by, so they never change; several names may share one
// number. A failure may still carry a number not listed here (socket errors keep the OS's).
#pragma once

#include <cstdint>

namespace talvex {

enum class ErrorNumber : std::int32_t {
  // The language runtime.
  kOverflow = 6,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kObjectNotSet = 91,
  kInvalidUseOfNull = 94,
  kInvalidProperty = 380,
  kCannotCreateObject = 429,
  // The listener.
  kAddressInUse = 10048,
  kInvalidOperation = 40020,
  // The system and the component's objects.
  kUnspecified = -2147467259,      // 0x80004005
  kModuleNotFound = -2147024770,   // 0x8007007E
  kDataHandlerCreate = -20042304,  // 0xFECE2DC0
  // Data access. The engine failed, with numbers of the data-access library's own, so that the
  // callers log them as failures that the default logging mode shows: the database cannot be
  // opened or reached, refuses writes, has no room, is damaged, stays locked, or failed in
  // some other way (kDbProvider: a statement it cannot run, a constraint, a bad connection
  // string).
  kDbProvider = -2147220992,     // 0x80040200
  kDbUnavailable = -2147220991,  // 0x80040201
  kDbReadOnly = -2147220990,     // 0x80040202
  kDbFull = -2147220989,         // 0x80040203
  kDbCorrupt = -2147220988,      // 0x80040204
  kDbBusy = -2147220987,         // 0x80040205
  // The procedure refused the call (raise_error), or the call does not fit the procedure:
  // unknown procedure, missing or unknown parameter, unsupported command type.
  kDbCommand = -2147217900,  // 0x80040E14
  // A parameter value that cannot be converted to its declared type.
  kDbConversion = -2147217913,  // 0x80040E07
  // A parameter value too large for its declared type or size.
  kDbOverflow = -2147217833,  // 0x80040E57
  // Record sets.
  kNoCurrentRecord = -2146825267,  // 0x800A0BCD (3021)
  kItemNotFound = -2146825023,     // 0x800A0CC1 (3265)
  kObjectClosed = -2146824584,     // 0x800A0E78 (3704)
};

}  // namespace talvex
