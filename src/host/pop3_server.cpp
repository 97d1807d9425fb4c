// The public class: settings, start and stop, the log filter.
#include "host/pop3_server.hpp"

#include "platform/date_text.hpp"
#include "platform/failure.hpp"

namespace talvex {

namespace {

constexpr std::string_view kOwnSource = "POP3Server Class";

}  // namespace

bool LoggingModePasses(std::int32_t loggingMode, Severity severity) {
  const auto type = static_cast<std::int32_t>(severity);
  switch (loggingMode) {
    case 0:
      return type < static_cast<std::int32_t>(Severity::kConnectionLost);
    case 1:
      return type < static_cast<std::int32_t>(Severity::kDetail);
    case 2:
      return true;
    default:
      return false;
  }
}

POP3Server::POP3Server(asio::io_context& io, Environment env, SessionTiming timing)
    : handler_(std::make_unique<ServerHandler>(
          io, std::move(env),
          [this](Severity severity, std::string_view source, std::string_view message) {
            OnHandlerLog(severity, source, message);
          },
          timing)) {}

POP3Server::~POP3Server() {
  StopListening();
}

bool POP3Server::StartListening(std::int32_t portNumber) {
  try {
    handler_->MyDomain(myDomain_);
    handler_->ForceDelete(forceDelete_);
    handler_->ReusePort(reusePort_);
    handler_->UseMetrics(metrics_);
    handler_->MaxConnections(maxConnections_);
    if (portNumber < INT16_MIN || portNumber > INT16_MAX || tlsPort_ > INT16_MAX) {
      RaiseRuntime(ErrorNumber::kOverflow);
    }
    handler_->UseTls(tlsCredentials_, tlsPort_, tlsRequired_);
    return handler_->StartServer(static_cast<std::int16_t>(portNumber));
  } catch (const Failure& failure) {
    LogLastError(failure);
    return false;
  }
}

bool POP3Server::StopListening() {
  try {
    handler_->StopServer();
    return true;
  } catch (const Failure& failure) {
    LogLastError(failure);
    return false;
  }
}

// The line's one time stamp is taken here, as it leaves for the host.
void POP3Server::Raise(Severity severity, std::string_view source, std::string_view message) const {
  if (!eventLog_) return;
  eventLog_(NowText(), static_cast<std::int32_t>(severity),
            "POP3 Server: (" + std::string(source) + ")", std::string(message));
}

// The class's own error lines bypass the LoggingMode filter.
void POP3Server::LogLastError(const Failure& failure) const {
  Raise(Severity::kError, kOwnSource, ErrorLine(failure));
}

void POP3Server::OnHandlerLog(Severity severity, std::string_view source,
                              std::string_view message) const {
  if (LoggingModePasses(loggingMode_, severity)) Raise(severity, source, message);
}

}  // namespace talvex
