// Conformance: the dialogue's opt-in behaviours of the Internet mail standards, which the
// component's own dialogue leaves out. Each is off by default, so that a server without them
// answers byte for byte as it always did; Strict() turns on all of them at once, as a site
// facing modern mail clients wants.
#pragma once

#include <chrono>
#include <cstddef>

namespace talvex {

struct Conformance {
  // A line of a retrieved message that begins with "." goes out with the "." doubled, so that
  // it cannot read as the end of the reply (RFC 1939 section 3).
  bool dotStuffing = false;
  // Command lines of up to 255 octets with their CR LF (RFC 2449) instead of the component's
  // own 45 characters.
  bool longLines = false;
  // Negative replies carry a response code in brackets ([IN-USE], [SYS/TEMP], [AUTH]) and CAPA
  // lists RESP-CODES and AUTH-RESP-CODE (RFC 2449, RFC 3206).
  bool respCodes = false;
  // "+OK" to PASS only once the drop is locked; a refused lock fails the log-in.
  bool lockBeforeOk = false;
  // A session with no command for this long is closed (RFC 1939's autologout timer), and the
  // fixed session age no longer applies; zero keeps the fixed age.
  std::chrono::seconds inactivityTimeout{0};

  // RFC 1939 allows no autologout timer shorter than ten minutes.
  static constexpr std::chrono::seconds kStandardInactivity{600};

  static Conformance Strict() { return {true, true, true, true, kStandardInactivity}; }

  // Both sets together: each behaviour that either turns on.
  Conformance& operator|=(const Conformance& other) {
    dotStuffing |= other.dotStuffing;
    longLines |= other.longLines;
    respCodes |= other.respCodes;
    lockBeforeOk |= other.lockBeforeOk;
    if (inactivityTimeout.count() == 0) inactivityTimeout = other.inactivityTimeout;
    return *this;
  }

  // The longest command line the commands take, without its CR LF.
  std::size_t MaxCommandLength() const { return longLines ? 255 - 2 : 45; }
};

}  // namespace talvex
