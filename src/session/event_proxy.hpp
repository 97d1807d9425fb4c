// EventProxy: what a session asks of whoever owns it. A session logs through it and asks
// through it to be removed, without knowing its owner; ServerHandler implements it. An owner
// unloads every session it holds before it goes, so that no session calls a proxy that is gone.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/log.hpp"

namespace talvex {

class EventProxy {
 public:
  // One log line of a session.
  virtual void ProxEventLog(Severity severity, std::string_view message) = 0;
  // The session in slot `index` has ended and asks to be removed.
  virtual void ProxKillServer(std::int16_t index) = 0;

 protected:
  ~EventProxy() = default;
};

}  // namespace talvex
