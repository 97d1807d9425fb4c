// Log lines inside the component: a severity and the two texts, without a time stamp. The
// host's EventLog is the one place that stamps a line, when it writes it out.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace talvex {

// The MessageType of a log line; the host filters lines by it.
enum class Severity : std::int32_t {
  kError = 3,           // start failures, listener errors, generic error lines
  kFailure = 4,         // failed log-ins, most data-layer failures
  kConnectionLost = 5,  // a session's send failed
  kNotice = 6,          // listening started, a user's session opened
  kDetail = 7,          // session detail, received commands, internal errors
};

// Where a component part sends its log lines.
using LogSink =
    std::function<void(Severity severity, std::string_view source, std::string_view message)>;

}  // namespace talvex
