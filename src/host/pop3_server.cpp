// The public class: settings, start and stop, the log filter.
#include "host/pop3_server.hpp"

#include "platform/date_text.hpp"
#include "platform/failure.hpp"

namespace talvex {

namespace {

constexpr const char* kSourcePrefix = "POP3 Server";
constexpr const char* kOwnSource = "POP3Server Class";

std::string WrapSource(const std::string& source) {
  return std::string(kSourcePrefix) + ": (" + source + ")";
}

}  // namespace

bool LoggingModePasses(std::int32_t LoggingMode, std::int32_t MessageType) {
  switch (LoggingMode) {
    case 0:
      return MessageType < 5;
    case 1:
      return MessageType < 7;
    case 2:
      return true;
    default:
      return false;
  }
}

POP3Server::POP3Server(asio::io_context& io, Environment env, SessionTiming timing)
    : oServerHandler(std::make_unique<ServerHandler>(io, std::move(env), timing)) {
  oServerHandler->EventLog = [this](std::int32_t MessageType, const std::string& Source,
                                    const std::string& Message) {
    oServerHandler_EventLog(MessageType, Source, Message);
  };
}

POP3Server::~POP3Server() {
  StopListening();
  oServerHandler->EventLog = nullptr;
}

bool POP3Server::StartListening(std::int32_t PortNumber) {
  try {
    oServerHandler->MyDomain(sMyDomain);
    oServerHandler->ForceDelete(bForceDelete);
    oServerHandler->MaxConnections(iMaxConnections);
    if (PortNumber < INT16_MIN || PortNumber > INT16_MAX) RaiseRuntime(ErrorNumber::kOverflow);
    return oServerHandler->StartServer(static_cast<std::int16_t>(PortNumber));
  } catch (const Failure& failure) {
    LogLastError(failure);
    return false;
  }
}

bool POP3Server::StopListening() {
  try {
    if (oServerHandler) oServerHandler->StopServer();
    return true;
  } catch (const Failure& failure) {
    LogLastError(failure);
    return false;
  }
}

// The class's own error lines bypass the LoggingMode filter.
void POP3Server::LogLastError(const Failure& failure) const {
  if (EventLog) EventLog(NowText(), 3, WrapSource(kOwnSource), ErrorLine(failure));
}

void POP3Server::oServerHandler_EventLog(std::int32_t MessageType, const std::string& Source,
                                         const std::string& Message) const {
  if (!LoggingModePasses(iLoggingMode, MessageType)) return;
  if (EventLog) EventLog(NowText(), MessageType, WrapSource(Source), Message);
}

}  // namespace talvex
