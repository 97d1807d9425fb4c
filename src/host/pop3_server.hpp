// POP3Server: the component's public class. The host creates one, sets its properties, starts
// it on a port and receives every log line through its EventLog handler; the class forwards
// its settings to its one ServerHandler at each start, filters the handler's lines by
// LoggingMode and stamps each line with the local date and time as it raises it.
#pragma once

#include <algorithm>
#include <asio/io_context.hpp>
#include <chrono>
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
  // The dialogue of the Internet mail standards where the component's own differs, all at
  // once (RfcStrict), or behaviour by behaviour; see session/conformance.hpp. The registry
  // value "RFCStrict" of the service's key, "1", turns them all on as RfcStrict does.
  void RfcStrict(bool value) { rfcStrict_ = value; }
  bool RfcStrict() const { return rfcStrict_; }
  void DotStuffing(bool value) { conformance_.dotStuffing = value; }
  bool DotStuffing() const { return conformance_.dotStuffing; }
  void LongLines(bool value) { conformance_.longLines = value; }
  bool LongLines() const { return conformance_.longLines; }
  void RespCodes(bool value) { conformance_.respCodes = value; }
  bool RespCodes() const { return conformance_.respCodes; }
  void LockBeforeOk(bool value) { conformance_.lockBeforeOk = value; }
  bool LockBeforeOk() const { return conformance_.lockBeforeOk; }
  // Seconds without a command before a session is closed; 0 keeps the fixed session age.
  void InactivityTimer(std::int32_t seconds) { conformance_.inactivityTimeout = Seconds(seconds); }
  std::int32_t InactivityTimer() const { return SecondsOf(conformance_.inactivityTimeout); }
  // Abuse limits, off at 0 or false: seconds to log in, connections per client address, and
  // a wait before the refusal of a failed log-in that grows with each failure of its address.
  void LoginTimeout(std::int32_t seconds) { loginTimeout_ = Seconds(seconds); }
  std::int32_t LoginTimeout() const { return SecondsOf(loginTimeout_); }
  void MaxPerIp(std::int16_t value) { maxPerIp_ = value; }
  std::int16_t MaxPerIp() const { return maxPerIp_; }
  void LoginDelay(bool value) { loginDelay_ = value; }
  bool LoginDelay() const { return loginDelay_; }
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
  // Closes the listener and ends every session, each releasing its drop as on a lost connection.
  bool StopListening();
  // After StopListening: `done` runs on the event loop once the sessions have released their
  // drops (at most `limit` is waited for them) and the process's heartbeat row is removed; a
  // host ends its loop then, so that a restart finds every drop free at once.
  void AfterStop(std::chrono::milliseconds limit, std::function<void()> done) {
    handler_->AfterStop(limit, std::move(done));
  }

  // The port the listener is bound to (useful when started on port 0).
  std::uint16_t BoundPort() const { return handler_->BoundPort(); }
  std::uint16_t BoundTlsPort() const { return handler_->BoundTlsPort(); }

 private:
  void Raise(Severity severity, std::string_view source, std::string_view message) const;
  void LogLastError(const Failure& failure) const;
  void OnHandlerLog(Severity severity, std::string_view source, std::string_view message) const;
  // What the sessions of the next start do: the properties, and the registry's switch.
  Conformance EffectiveConformance() const;
  static std::chrono::seconds Seconds(std::int32_t value) {
    return std::chrono::seconds(std::max(value, 0));
  }
  static std::int32_t SecondsOf(std::chrono::seconds value) {
    return static_cast<std::int32_t>(value.count());
  }

  EventLogHandler eventLog_;
  std::int16_t maxConnections_ = 0;
  std::string myDomain_;
  bool forceDelete_ = false;
  bool reusePort_ = false;
  std::int16_t loggingMode_ = 0;
  std::shared_ptr<Metrics> metrics_;
  Environment env_;
  bool rfcStrict_ = false;
  Conformance conformance_;
  std::chrono::seconds loginTimeout_{0};
  std::int16_t maxPerIp_ = 0;
  bool loginDelay_ = false;
  std::shared_ptr<const TlsCredentials> tlsCredentials_;
  std::int32_t tlsPort_ = -1;
  bool tlsRequired_ = false;
  // Last, so that it goes first: its sessions may still log on their way out.
  std::unique_ptr<ServerHandler> handler_;
};

// Whether LoggingMode passes a line of the severity to the host.
bool LoggingModePasses(std::int32_t loggingMode, Severity severity);

}  // namespace talvex
