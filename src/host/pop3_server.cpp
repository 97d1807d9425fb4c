// The public class: settings, start and stop, the log filter.
#include "host/pop3_server.hpp"

#include "platform/date_text.hpp"
#include "platform/failure.hpp"
#include "platform/reglib.hpp"
#include "platform/resources.hpp"

namespace talvex {

namespace {

constexpr std::string_view kOwnSource = "POP3Server Class";

// The service's own key, beside the gateway's, and its switch of the standards' dialogue.
std::string ServiceKey() {
  return std::string(resources::LoadResString(resources::StringId::kRegistryRoot)) +
         "\\Services\\POP3 Service";
}
constexpr const char* kRfcStrictValue = "RFCStrict";

// A switch is on when its text is exactly "1", as the suite's other switches; an absent value
// or a registry that cannot be read leaves it off.
bool RegistrySwitch(const Environment& env, const char* name) {
  try {
    Variant value;
    RegLib(env).ReadRegValue(RegRoot::kLocalMachine, ServiceKey(), name, RegValueType::kText,
                             Variant("0"), value);
    return value.TextOrEmpty() == "1";
  } catch (const std::exception&) {
    return false;
  }
}

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
    : env_(env),
      handler_(std::make_unique<ServerHandler>(
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
    handler_->UseConformance(EffectiveConformance());
    handler_->LoginTimeout(loginTimeout_);
    handler_->MaxPerAddress(maxPerIp_);
    handler_->LoginDelay(loginDelay_);
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

Conformance POP3Server::EffectiveConformance() const {
  Conformance effective = conformance_;
  if (rfcStrict_ || RegistrySwitch(env_, kRfcStrictValue)) effective |= Conformance::Strict();
  return effective;
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
