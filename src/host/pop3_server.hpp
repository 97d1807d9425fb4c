// POP3Server: the component's public class. The host creates one, sets its properties, starts
// it on a port and receives every log line through EventLog; the class forwards its settings
// to its one ServerHandler at each start and filters the handler's lines by LoggingMode.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/server_handler.hpp"
#include "platform/environment.hpp"

namespace talvex {

class POP3Server {
 public:
  using EventLogEvent = std::function<void(const std::string& DateTime, std::int32_t MessageType,
                                           const std::string& Source, const std::string& Message)>;

  // `timing` shortens the session timers in tests; hosts leave it alone.
  POP3Server(asio::io_context& io, Environment env, SessionTiming timing = {});
  // Stops listening on the way out; an object that is not listening logs the failed stop.
  ~POP3Server();
  POP3Server(const POP3Server&) = delete;
  POP3Server& operator=(const POP3Server&) = delete;

  bool IsAlive() const { return oServerHandler->IsAlive(); }
  void MaxConnections(std::int16_t value) { iMaxConnections = value; }
  std::int16_t MaxConnections() const { return iMaxConnections; }
  void MyDomain(std::string value) { sMyDomain = std::move(value); }
  const std::string& MyDomain() const { return sMyDomain; }
  void LoggingMode(std::int16_t value) { iLoggingMode = value; }
  std::int16_t LoggingMode() const { return iLoggingMode; }
  void ForceDelete(bool value) { bForceDelete = value; }
  bool ForceDelete() const { return bForceDelete; }

  bool StartListening(std::int32_t PortNumber);
  bool StopListening();

  // The port the listener is bound to (useful when started on port 0).
  std::uint16_t BoundPort() const { return oServerHandler->BoundPort(); }

  EventLogEvent EventLog;

 private:
  void LogLastError(const Failure& failure) const;
  void oServerHandler_EventLog(std::int32_t MessageType, const std::string& Source,
                               const std::string& Message) const;

  std::unique_ptr<ServerHandler> oServerHandler;
  std::int16_t iMaxConnections = 0;
  std::string sMyDomain;
  bool bForceDelete = false;
  std::int16_t iLoggingMode = 0;
};

// Whether LoggingMode passes a line of MessageType to the host.
bool LoggingModePasses(std::int32_t LoggingMode, std::int32_t MessageType);

}  // namespace talvex
