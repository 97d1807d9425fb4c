// The listener and the session pool.
#include "host/server_handler.hpp"

#include <algorithm>
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

// Errors of the process running short (descriptors, kernel buffers, memory): the listener is
// sound and the connection waits in its queue until something is freed.
bool IsResourceAcceptError(const std::error_code& ec) {
  return ec == asio::error::no_descriptors || ec == std::errc::too_many_files_open_in_system ||
         ec == asio::error::no_buffer_space || ec == asio::error::no_memory;
}

constexpr auto kAcceptPause = std::chrono::milliseconds(100);
constexpr auto kAcceptCalm = std::chrono::seconds(1);

}  // namespace

ServerHandler::ServerHandler(asio::io_context& io, Environment env, LogSink log,
                             SessionTiming timing)
    : io_(io),
      env_(std::move(env)),
      log_(std::move(log)),
      timing_(timing),
      backends_(std::make_shared<data::BackendPool>(log_)),
      acceptPause_(io),
      alive_(std::make_shared<ServerHandler*>(this)) {}

ServerHandler::~ServerHandler() {
  UnloadSessions();
}

void ServerHandler::MaxConnections(std::int16_t value) {
  if (value == INT16_MIN) RaiseRuntime(ErrorNumber::kOverflow);
  maxIndex_ = static_cast<std::int16_t>(value - 1);
}

void ServerHandler::Raise(Severity severity, std::string_view message) const {
  if (log_) log_(severity, kSource, message);
}

void ServerHandler::LogLastError(const Failure& failure) const {
  Raise(Severity::kError, ErrorLine(failure));
}

bool ServerHandler::StartServer(std::int16_t portNumber) {
  // A running listener is refused rather than replaced, so that its sessions stay in the table.
  if (listener_ && listener_->is_open()) {
    LogLastError(Failure(kListenerSource, ErrorNumber::kInvalidOperation,
                         "Invalid operation at current state"));
    return false;
  }
  if (maxIndex_ < 0) RaiseRuntime(ErrorNumber::kSubscriptOutOfRange);
  sessions_.emplace(static_cast<std::size_t>(maxIndex_) + 1);
  portNumber_ = portNumber;
  std::int32_t opening = portNumber;  // the port named when it is in use
  try {
    Listen(portNumber);
    if (tlsCredentials_ && tlsPort_ >= 0) {
      opening = tlsPort_;
      tlsListener_ = std::make_unique<asio::ip::tcp::acceptor>(io_);
      OpenListener(*tlsListener_, static_cast<std::int16_t>(tlsPort_));
      boundTlsPort_ = tlsListener_->local_endpoint().port();
    }
    RecordLocalHostName(env_, LocalHostName());
    stopping_ = false;
    Raise(Severity::kNotice, "POP3 server listening on port " +
                                 std::to_string(portNumber == 0 ? boundPort_ : portNumber));
    if (tlsListener_) {
      Raise(Severity::kNotice,
            "POP3 server listening for TLS on port " + std::to_string(boundTlsPort_));
    }
    AcceptNext();
    return true;
  } catch (const Failure& failure) {
    std::error_code ignored;  // the plain listener, opened before the TLS one failed, closes
    if (listener_) listener_->close(ignored);
    if (failure.Is(ErrorNumber::kAddressInUse)) {
      Raise(Severity::kError, "Cannot start POP3 server. Port number " + std::to_string(opening) +
                                  " is currently in use");
    } else {
      LogLastError(failure);
    }
    return false;
  }
}

// Listens on every address: IPv6 with IPv4 mapped where the host has IPv6, IPv4 otherwise.
void ServerHandler::Listen(std::int16_t portNumber) {
  ++listenerGeneration_;
  // The listener object stays after a failed start, as the stop that follows expects one.
  listener_ = std::make_unique<asio::ip::tcp::acceptor>(io_);
  OpenListener(*listener_, portNumber);
  boundPort_ = listener_->local_endpoint().port();
}

void ServerHandler::OpenListener(asio::ip::tcp::acceptor& listener, std::int16_t portNumber) {
  if (portNumber < 0) {
    throw Failure(kListenerSource, ErrorNumber::kInvalidProperty, "Invalid property value");
  }
  const auto port = static_cast<std::uint16_t>(portNumber);
  std::error_code ec;
  listener.open(asio::ip::tcp::v6(), ec);
  if (!ec) listener.set_option(asio::ip::v6_only(false), ec);
  asio::ip::tcp::endpoint endpoint(asio::ip::tcp::v6(), port);
  if (ec) {
    ec.clear();
    listener.close(ec);
    listener.open(asio::ip::tcp::v4(), ec);
    endpoint = asio::ip::tcp::endpoint(asio::ip::tcp::v4(), port);
  }
  if (!ec) listener.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec && reusePort_) listener.set_option(ReusePortOption(true), ec);
  if (!ec) listener.bind(endpoint, ec);
  if (!ec) listener.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) throw SocketFailure(ec);
}

bool ServerHandler::HasFreeSlot() const {
  return sessions_ && std::any_of(sessions_->begin(), sessions_->end(),
                                  [](const auto& slot) { return slot == nullptr; });
}

// Connections are taken from the listener only while a slot is free; with every slot taken
// they wait unanswered in the listen queue until a session ends.
// With one slot left, both listeners may each take a connection; the later one then finds no
// slot and is closed, as a connection beyond MaxConnections always was.
void ServerHandler::AcceptNext() {
  AcceptOn(listener_.get(), &ServerHandler::accepting_, false);
  AcceptOn(tlsListener_.get(), &ServerHandler::tlsAccepting_, true);
}

void ServerHandler::AcceptOn(asio::ip::tcp::acceptor* listener, bool ServerHandler::*accepting,
                             bool implicitTls) {
  if (this->*accepting || acceptPaused_ || !listener || !listener->is_open() || !HasFreeSlot()) {
    return;
  }
  this->*accepting = true;
  listener->async_accept([alive = std::weak_ptr<ServerHandler*>(alive_),
                          generation = listenerGeneration_, accepting,
                          implicitTls](const std::error_code& ec, asio::ip::tcp::socket socket) {
    const auto owner = alive.lock();
    if (!owner) return;
    ServerHandler& self = **owner;
    if (generation != self.listenerGeneration_) return;
    self.*accepting = false;
    self.OnAccept(ec, std::move(socket), implicitTls);
  });
}

void ServerHandler::OnAccept(const std::error_code& ec, asio::ip::tcp::socket socket,
                             bool implicitTls) {
  if (ec == asio::error::operation_aborted) {
    if (!stopping_) Raise(Severity::kError, "Unexpected POP3 server shutdown has occurred");
    return;
  }
  if (ec && IsTransientAcceptError(ec)) {
    AcceptNext();
    return;
  }
  if (ec && IsResourceAcceptError(ec)) {
    PauseAccepting(ec);
    return;
  }
  if (ec) {
    OnListenerError(ec);
    return;
  }
  if (acceptTrouble_ && std::chrono::steady_clock::now() - lastAcceptFailure_ >= kAcceptCalm) {
    acceptTrouble_ = false;
    Raise(Severity::kNotice, "Accepting connections again");
  }
  const std::string peer = PeerAddress(socket);
  CreateServerInstance(std::move(socket), peer, implicitTls);
  AcceptNext();
}

void ServerHandler::OnListenerError(const std::error_code& ec) {
  std::error_code ignored;
  listener_->close(ignored);
  Raise(Severity::kError, "Listener Error: " + std::to_string(SocketErrorNumber(ec)) + ". " +
                              SocketErrorDescription(ec));
  StopServer();  // cannot raise: the listener is there, closed just now
  StartServer(portNumber_);
}

// Every session is kept; accepting resumes after a pause, or at once when a session ends.
void ServerHandler::PauseAccepting(const std::error_code& ec) {
  if (!acceptTrouble_) {
    acceptTrouble_ = true;
    Raise(Severity::kFailure,
          "Cannot accept connections: " + std::to_string(SocketErrorNumber(ec)) + ". " +
              SocketErrorDescription(ec) + "; waiting connections are queued");
  }
  lastAcceptFailure_ = std::chrono::steady_clock::now();
  acceptPaused_ = true;
  acceptPause_.expires_after(kAcceptPause);
  acceptPause_.async_wait([alive = std::weak_ptr<ServerHandler*>(alive_),
                           generation = listenerGeneration_](const std::error_code& waitError) {
    const auto owner = alive.lock();
    if (!owner || waitError) return;
    ServerHandler& self = **owner;
    self.acceptPaused_ = false;
    if (generation == self.listenerGeneration_) self.AcceptNext();
  });
}

bool ServerHandler::CreateServerInstance(asio::ip::tcp::socket socket,
                                         const std::string& remoteHostIp, bool implicitTls) {
  if (!sessions_) return false;
  const auto free = std::find(sessions_->begin(), sessions_->end(), nullptr);
  if (free == sessions_->end()) return false;
  const auto index = static_cast<std::int16_t>(free - sessions_->begin());
  try {
    // Each session keeps the context it starts with, whatever a reload brings later.
    SessionTls tls;
    if (tlsCredentials_) tls = {tlsCredentials_->Context(), implicitTls, tlsRequired_};
    auto session = std::make_shared<Session>(
        io_.get_executor(),
        SessionSettings{index, myDomain_, forceDelete_, timing_, metrics_, std::move(tls)}, *this,
        env_, backends_);
    *free = session;  // the session may remove itself while it accepts: `session` keeps it
    if (metrics_) metrics_->SessionOpened();
    session->AcceptConnection(std::move(socket), remoteHostIp);
  } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch)
    // Ignored by design: the connection is dropped with its socket; the slot stays free.
  }
  return true;
}

void ServerHandler::KillServerInstance(std::int16_t index) {
  if (!sessions_ || index < 0 || static_cast<std::size_t>(index) >= sessions_->size()) return;
  auto& slot = (*sessions_)[static_cast<std::size_t>(index)];
  if (const auto session = slot) {
    session->Disconnect();
    session->Unload();
    if (metrics_) metrics_->SessionClosed();
  }
  slot.reset();
  if (acceptPaused_) {
    acceptPause_.cancel();  // a descriptor was freed just now
    acceptPaused_ = false;
  }
  AcceptNext();
}

void ServerHandler::ProxEventLog(Severity severity, std::string_view message) {
  Raise(severity, message);
}

void ServerHandler::ProxKillServer(std::int16_t index) {
  KillServerInstance(index);
}

void ServerHandler::StopServer() {
  stopping_ = true;
  if (!listener_) RaiseRuntime(ErrorNumber::kObjectNotSet);
  std::error_code ignored;  // the listener goes either way
  listener_->close(ignored);
  listener_.reset();
  if (tlsListener_) tlsListener_->close(ignored);
  tlsListener_.reset();
  ++listenerGeneration_;
  accepting_ = false;
  tlsAccepting_ = false;
  acceptPause_.cancel();
  acceptPaused_ = false;
  acceptTrouble_ = false;
  UnloadSessions();
}

// Sessions are unloaded without termination: no release reaches the database.
void ServerHandler::UnloadSessions() {
  if (!sessions_) return;
  for (auto& slot : *sessions_) {
    if (const auto session = slot) {
      session->Unload();
      if (metrics_) metrics_->SessionClosed();
    }
    slot.reset();
  }
}

}  // namespace talvex
