// POP3Server: the component's public class. The host creates one, sets its properties, starts
// it on a port and receives every log line through its EventLog handler; the class forwards
// its settings to its one ServerHandler at each start, filters the handler's lines by
// LoggingMode and stamps each line with the local date and time as it raises it.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "host/server_handler.hpp"
#include "platform/environment.hpp"
#include "platform/log.hpp"

namespace talvex {

class POP3Server {
 public:
  // The host's handler of log lines: date and time, MessageType, source, message.
  using EventLogHandler =
      std::function<void(const std::string& dateTime, std::int32_t messageType,
                         const std::string& source, const std::string& message)>;

  // `timing` shortens the session timers in tests; hosts leave it alone.
  POP3Server(asio::io_context& io, Environment env, SessionTiming timing = {});
  // Stops listening on the way out; an object that is not listening logs the failed stop.
  ~POP3Server();
  POP3Server(const POP3Server&) = delete;
  POP3Server& operator=(const POP3Server&) = delete;

  bool IsAlive() const { return handler_->IsAlive(); }
  void MaxConnections(std::int16_t value) { maxConnections_ = value; }
  std::int16_t MaxConnections() const { return maxConnections_; }
  void MyDomain(std::string value) { myDomain_ = std::move(value); }
  const std::string& MyDomain() const { return myDomain_; }
  void LoggingMode(std::int16_t value) { loggingMode_ = value; }
  std::int16_t LoggingMode() const { return loggingMode_; }
  void ForceDelete(bool value) { forceDelete_ = value; }
  bool ForceDelete() const { return forceDelete_; }
  // With ReusePort several processes listen on one port and the kernel spreads the incoming
  // connections among them (SO_REUSEPORT); they share the mail drops through the database.
  void ReusePort(bool value) { reusePort_ = value; }
  bool ReusePort() const { return reusePort_; }
  // TLS: the certificate and key, the implicit-TLS port (below zero: none) and whether log-ins
  // need TLS. Without credentials the server speaks plain POP3 only.
  void UseTls(std::shared_ptr<const TlsCredentials> credentials, std::int32_t tlsPort,
              bool required) {
    tlsCredentials_ = std::move(credentials);
    tlsPort_ = tlsPort;
    tlsRequired_ = required;
  }
  // Where the server counts its sessions and their work for a scraper; none by default.
  void UseMetrics(std::shared_ptr<Metrics> metrics) { metrics_ = std::move(metrics); }
  // Subscribes the host to the log lines; an empty handler unsubscribes.
  void EventLog(EventLogHandler handler) { eventLog_ = std::move(handler); }

  bool StartListening(std::int32_t portNumber);
  bool StopListening();

  // The port the listener is bound to (useful when started on port 0).
  std::uint16_t BoundPort() const { return handler_->BoundPort(); }
  std::uint16_t BoundTlsPort() const { return handler_->BoundTlsPort(); }

 private:
  void Raise(Severity severity, std::string_view source, std::string_view message) const;
  void LogLastError(const Failure& failure) const;
  void OnHandlerLog(Severity severity, std::string_view source, std::string_view message) const;

  EventLogHandler eventLog_;
  std::int16_t maxConnections_ = 0;
  std::string myDomain_;
  bool forceDelete_ = false;
  bool reusePort_ = false;
  std::int16_t loggingMode_ = 0;
  std::shared_ptr<Metrics> metrics_;
  std::shared_ptr<const TlsCredentials> tlsCredentials_;
  std::int32_t tlsPort_ = -1;
  bool tlsRequired_ = false;
  // Last, so that it goes first: its sessions may still log on their way out.
  std::unique_ptr<ServerHandler> handler_;
};

// Whether LoggingMode passes a line of the severity to the host.
bool LoggingModePasses(std::int32_t loggingMode, Severity severity);

}  // namespace talvex
