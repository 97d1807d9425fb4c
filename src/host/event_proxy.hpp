// EventProxy: the one relay that every session of a ServerHandler holds. A session logs and
// asks to be removed through it; the handler subscribes to its two events. It lets sessions
// report without knowing their owner.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace talvex {

class EventProxy {
 public:
  using EventLogEvent = std::function<void(std::int32_t MessageType, const std::string& Source,
                                           const std::string& Message)>;
  using KillServerEvent = std::function<void(std::int16_t Index)>;

  void ProxEventLog(std::int32_t MessageType, const std::string& Source,
                    const std::string& Message) const {
    if (EventLog) EventLog(MessageType, Source, Message);
  }
  void ProxKillServer(std::int16_t Index) const {
    if (KillServer) KillServer(Index);
  }

  EventLogEvent EventLog;
  KillServerEvent KillServer;
};

}  // namespace talvex
