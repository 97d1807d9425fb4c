// The listener and the session pool.
#include "host/server_handler.hpp"

#include <array>
#include <asio/ip/v6_only.hpp>

#include "platform/failure.hpp"
#include "platform/net.hpp"
#include "platform/reglib.hpp"
#include "platform/socket_errors.hpp"

namespace talvex {

namespace {

constexpr const char* kSource = "ServerHandler Class";
// Source of failures raised by the listening socket.
constexpr const char* kListenerSource = "sckListener";

Failure SocketFailure(const std::error_code& ec) {
  return Failure(kListenerSource, SocketErrorNumber(ec), SocketErrorDescription(ec));
}

// Errors of a single accept that say nothing about the listener itself.
bool IsTransientAcceptError(const std::error_code& ec) {
  return ec == asio::error::connection_aborted || ec == asio::error::interrupted ||
         ec == asio::error::would_block || ec == asio::error::try_again;
}

}  // namespace

ServerHandler::ServerHandler(asio::io_context& io, Environment env, SessionTiming timing)
    : io_(io),
      env_(std::move(env)),
      timing_(timing),
      oEProxy(std::make_shared<EventProxy>()),
      backends_(std::make_shared<data::BackendPool>()),
      alive_(std::make_shared<ServerHandler*>(this)) {
  auto* proxy = oEProxy.get();
  proxy->EventLog = [this](std::int32_t MessageType, const std::string&,
                           const std::string& Message) { oEProxy_EventLog(MessageType, Message); };
  proxy->KillServer = [this](std::int16_t Index) { oEProxy_KillServer(Index); };
}

ServerHandler::~ServerHandler() {
  // Sessions that outlive the handler in pending socket handlers must not call back into it.
  oEProxy->EventLog = nullptr;
  oEProxy->KillServer = nullptr;
}

void ServerHandler::MaxConnections(std::int16_t value) {
  if (value == INT16_MIN) RaiseRuntime(ErrorNumber::kOverflow);
  iMaxIndex = static_cast<std::int16_t>(value - 1);
}

void ServerHandler::Raise(std::int32_t MessageType, const std::string& Message) const {
  if (EventLog) EventLog(MessageType, kSource, Message);
}

void ServerHandler::LogLastError(const Failure& failure) const {
  Raise(3, ErrorLine(failure));
}

bool ServerHandler::StartServer(std::int16_t PortNumber) {
  // A running listener is refused rather than replaced, so that its sessions stay in the table.
  if (oListener && oListener->is_open()) {
    LogLastError(Failure(kListenerSource, ErrorNumber::kInvalidOperation,
                         "Invalid operation at current state"));
    return false;
  }
  if (iMaxIndex < 0) RaiseRuntime(ErrorNumber::kSubscriptOutOfRange);
  oServers.emplace(static_cast<std::size_t>(iMaxIndex) + 1);
  iPortNumber = PortNumber;
  try {
    Listen(PortNumber);
    RecordLocalHostName(env_, LocalHostName());
    bStopping = false;
    Raise(6, "POP3 server listening on port " +
                 std::to_string(PortNumber == 0 ? boundPort_ : PortNumber));
    AcceptNext();
    return true;
  } catch (const Failure& failure) {
    if (failure.Is(ErrorNumber::kAddressInUse)) {
      Raise(3, "Cannot start POP3 server. Port number " + std::to_string(PortNumber) +
                   " is currently in use");
    } else {
      LogLastError(failure);
    }
    return false;
  }
}

// Listens on every address: IPv6 with IPv4 mapped where the host has IPv6, IPv4 otherwise.
void ServerHandler::Listen(std::int16_t PortNumber) {
  if (PortNumber < 0) {
    throw Failure(kListenerSource, ErrorNumber::kInvalidProperty, "Invalid property value");
  }
  ++listenerGeneration_;
  oListener = std::make_unique<asio::ip::tcp::acceptor>(io_);
  const auto port = static_cast<std::uint16_t>(PortNumber);
  std::error_code ec;
  oListener->open(asio::ip::tcp::v6(), ec);
  if (!ec) oListener->set_option(asio::ip::v6_only(false), ec);
  asio::ip::tcp::endpoint endpoint(asio::ip::tcp::v6(), port);
  if (ec) {
    ec.clear();
    oListener->close(ec);
    oListener->open(asio::ip::tcp::v4(), ec);
    endpoint = asio::ip::tcp::endpoint(asio::ip::tcp::v4(), port);
  }
  if (!ec) oListener->set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) oListener->bind(endpoint, ec);
  if (!ec) oListener->listen(asio::socket_base::max_listen_connections, ec);
  if (ec) throw SocketFailure(ec);
  boundPort_ = oListener->local_endpoint().port();
}

bool ServerHandler::HasFreeSlot() const {
  return oServers && std::any_of(oServers->begin(), oServers->end(),
                                 [](const auto& slot) { return slot == nullptr; });
}

// Connections are taken from the listener only while a slot is free; with every slot taken
// they wait unanswered in the listen queue until a session ends.
void ServerHandler::AcceptNext() {
  if (accepting_ || !oListener || !oListener->is_open() || !HasFreeSlot()) return;
  accepting_ = true;
  oListener->async_accept(
      [alive = std::weak_ptr<ServerHandler*>(alive_), generation = listenerGeneration_](
          const std::error_code& ec, asio::ip::tcp::socket socket) {
        const auto owner = alive.lock();
        if (!owner) return;
        ServerHandler& self = **owner;
        if (generation != self.listenerGeneration_) return;
        self.accepting_ = false;
        self.OnAccept(ec, std::move(socket));
      });
}

void ServerHandler::OnAccept(const std::error_code& ec, asio::ip::tcp::socket socket) {
  if (ec == asio::error::operation_aborted) {
    if (!bStopping) Raise(3, "Unexpected POP3 server shutdown has occurred");
    return;
  }
  if (ec && IsTransientAcceptError(ec)) {
    AcceptNext();
    return;
  }
  if (ec) {
    OnListenerError(ec);
    return;
  }
  CreateServerInstance(std::move(socket), AddressText(requestPeer_.address()));
  AcceptNext();
}

void ServerHandler::OnListenerError(const std::error_code& ec) {
  std::error_code ignored;
  oListener->close(ignored);
  Raise(3, "Listener Error: " + std::to_string(SocketErrorNumber(ec)) + ". " +
               SocketErrorDescription(ec));
  try {
    StopServer();
  } catch (const Failure&) {  // NOLINT(bugprone-empty-catch): the restart follows regardless
  }
  StartServer(iPortNumber);
}

bool ServerHandler::CreateServerInstance(asio::ip::tcp::socket socket,
                                         const std::string& RemoteHostIP) {
  if (!oServers) return false;
  for (std::size_t i = 0; i < oServers->size(); ++i) {
    auto& slot = (*oServers)[i];
    if (slot) continue;
    try {
      slot = std::make_shared<Session>(io_.get_executor(), env_, timing_, backends_);
      const auto session = slot;  // the session may remove itself while it accepts
      session->iMyIndex = static_cast<std::int16_t>(i);
      session->oEProxy = oEProxy;
      session->sMyDomain = sMyDomain;
      session->bForceDelete = bForceDelete;
      session->AcceptConnection(std::move(socket), RemoteHostIP);
    } catch (...) {  // NOLINT(bugprone-empty-catch): the slot counts as taken regardless
    }
    return true;
  }
  return false;
}

void ServerHandler::KillServerInstance(std::int16_t Index) {
  if (!oServers || Index < 0 || static_cast<std::size_t>(Index) >= oServers->size()) return;
  auto& slot = (*oServers)[static_cast<std::size_t>(Index)];
  if (const auto session = slot) {
    try {
      session->Disconnect();
      session->Unload();
    } catch (...) {  // NOLINT(bugprone-empty-catch): removal goes on whatever fails
    }
  }
  slot.reset();
  AcceptNext();
}

void ServerHandler::oEProxy_EventLog(std::int32_t MessageType, const std::string& Message) const {
  Raise(MessageType, Message);
}

void ServerHandler::oEProxy_KillServer(std::int16_t Index) {
  KillServerInstance(Index);
}

void ServerHandler::StopServer() {
  bStopping = true;
  if (!oListener) RaiseRuntime(ErrorNumber::kObjectNotSet);
  std::error_code ignored;
  oListener->close(ignored);
  oListener.reset();
  ++listenerGeneration_;
  accepting_ = false;
  if (!oServers) return;
  // Sessions are unloaded without termination: no release reaches the database.
  for (auto& slot : *oServers) {
    if (const auto session = slot) {
      try {
        session->Unload();
      } catch (...) {  // NOLINT(bugprone-empty-catch): every slot is emptied regardless
      }
      slot.reset();
    }
  }
}

}  // namespace talvex
