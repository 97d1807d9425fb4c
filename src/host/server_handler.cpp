// The listener and the session pool.
#include "host/server_handler.hpp"

#include <algorithm>
#include <asio/ip/v6_only.hpp>
#include <asio/write.hpp>
#include <utility>

#include "crypto/providers.hpp"
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

// What a connection over the limit of its address reads before it is closed.
constexpr std::string_view kTooManyFromAddress = "-ERR Too many connections from your address.\r\n";

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
      // The beats have database connections of their own: sessions queued for the shared ones
      // never hold up a beat, and the beats never open the sessions' database before a
      // session needs it.
      heartbeat_(io, env_, std::make_shared<data::BackendPool>(log_), log_),
      drainTimer_(io),
      acceptPause_(io),
      alive_(std::make_shared<ServerHandler*>(this)) {}

ServerHandler::~ServerHandler() {
  UnloadSessions();
}

void ServerHandler::MaxConnections(std::int16_t value) {
  if (value == INT16_MIN) RaiseRuntime(ErrorNumber::kOverflow);
  maxIndex_ = static_cast<std::int16_t>(value - 1);
}

void ServerHandler::LoginDelay(bool value) {
  if (!value) {
    loginThrottle_.reset();
  } else if (!loginThrottle_) {
    loginThrottle_ = std::make_shared<LoginThrottle>(LoginThrottle::Limits{});
  }
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
  UnloadSessions();  // sessions of the last stop that have not left yet go without their release
  sessions_.emplace(static_cast<std::size_t>(maxIndex_) + 1);
  slotPeers_.assign(sessions_->size(), std::string());
  perAddress_.clear();
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
    // The digests of the log-ins come from providers loaded from files at their first use; loaded
    // now, they are there when the sessions need them even while descriptors run short.
    crypto::SharedProviders();
    stopping_ = false;
    Raise(Severity::kNotice, "POP3 server listening on port " +
                                 std::to_string(portNumber == 0 ? boundPort_ : portNumber));
    if (tlsListener_) {
      Raise(Severity::kNotice,
            "POP3 server listening for TLS on port " + std::to_string(boundTlsPort_));
    }
    // Connections wait in the listen queue until the process is registered, so that every
    // session's lock names a process whose heartbeat the database knows.
    heartbeat_.Start([alive = std::weak_ptr<ServerHandler*>(alive_)] {
      if (const auto owner = alive.lock()) (*owner)->AcceptNext();
    });
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
  // Accepted sockets inherit both, which spares two calls per connection. Every reply leaves
  // at once, without waiting for the acknowledgement of the one before; and every command is
  // answered at once, so its acknowledgement can ride on the reply, where the kernel would
  // otherwise acknowledge a connection's first commands in packets of their own. Without them
  // replies only wait a little longer.
  std::error_code ignored;
  listener.set_option(asio::ip::tcp::no_delay(true), ignored);
  listener.set_option(QuickAckOption(false), ignored);
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
  // The peer's address comes with the accepted connection, so no session asks the socket for it.
  auto peer = std::make_shared<asio::ip::tcp::endpoint>();
  listener->async_accept(*peer, [alive = std::weak_ptr<ServerHandler*>(alive_),
                                 generation = listenerGeneration_, accepting, implicitTls,
                                 peer](const std::error_code& ec, asio::ip::tcp::socket socket) {
    const auto owner = alive.lock();
    if (!owner) return;
    ServerHandler& self = **owner;
    if (generation != self.listenerGeneration_) return;
    self.*accepting = false;
    self.OnAccept(ec, std::move(socket), AddressText(peer->address()), implicitTls);
  });
}

void ServerHandler::OnAccept(const std::error_code& ec, asio::ip::tcp::socket socket,
                             const std::string& peer, bool implicitTls) {
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
  if (OverAddressLimit(peer)) {
    RefuseConnection(std::move(socket), peer);
  } else {
    CreateServerInstance(std::move(socket), peer, implicitTls);
  }
  AcceptNext();
}

bool ServerHandler::OverAddressLimit(const std::string& peer) const {
  if (maxPerAddress_ <= 0 || peer.empty()) return false;
  const auto found = perAddress_.find(peer);
  return found != perAddress_.end() && found->second >= maxPerAddress_;
}

// The refusal is written without a session and without holding a slot; the socket lives in
// the write's handler until the line has gone or the peer is gone.
void ServerHandler::RefuseConnection(asio::ip::tcp::socket socket, const std::string& peer) {
  Raise(Severity::kDetail, peer + " refused: already " + std::to_string(maxPerAddress_) +
                               " connections from that address");
  auto held = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
  asio::async_write(*held, asio::buffer(kTooManyFromAddress),
                    [held](const std::error_code&, std::size_t) {
                      std::error_code ignored;  // the connection goes either way
                      held->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
                      held->close(ignored);
                    });
}

void ServerHandler::HoldSlot(std::size_t index, const std::string& peer) {
  if (peer.empty()) return;
  slotPeers_[index] = peer;
  ++perAddress_[peer];
}

void ServerHandler::FreeSlot(std::size_t index) {
  if (index >= slotPeers_.size() || slotPeers_[index].empty()) return;
  const auto found = perAddress_.find(slotPeers_[index]);
  if (found != perAddress_.end() && --found->second <= 0) perAddress_.erase(found);
  slotPeers_[index].clear();
}

void ServerHandler::OnListenerError(const std::error_code& ec) {
  std::error_code ignored;
  listener_->close(ignored);
  Raise(Severity::kError, "Listener Error: " + std::to_string(SocketErrorNumber(ec)) + ". " +
                              SocketErrorDescription(ec));
  Relisten();
}

// A new listening socket on the same port; the sessions being served have sockets of their own
// and stay.
void ServerHandler::Relisten() {
  try {
    Listen(portNumber_);
    Raise(Severity::kNotice, "POP3 server listening on port " +
                                 std::to_string(portNumber_ == 0 ? boundPort_ : portNumber_));
    AcceptNext();
  } catch (const Failure& failure) {
    LogLastError(failure);
  }
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
    const std::string& host = hostNames_.Get();
    SessionSettings settings{.index = index,
                             .sessionId = sessionIds_.Next(),
                             .hostName = myDomain_.empty() ? host : host + "." + myDomain_,
                             .forceDelete = forceDelete_,
                             .timing = timing_,
                             .metrics = metrics_,
                             .facts = facts_,
                             .writeRound = writeRound_,
                             .instanceId = heartbeat_.InstanceId(),
                             .conformance = conformance_,
                             .loginTimeout = loginTimeout_,
                             .loginPenalty = loginThrottle_,
                             .tls = std::move(tls)};
    auto session =
        std::make_shared<Session>(io_.get_executor(), std::move(settings), *this, env_, backends_);
    *free = session;  // the session may remove itself while it accepts: `session` keeps it
    HoldSlot(static_cast<std::size_t>(index), remoteHostIp);
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
  FreeSlot(static_cast<std::size_t>(index));
  // The stop's wait ends from the event loop, not from inside the leaving session.
  if (drained_ && !HasSessions()) drainTimer_.cancel();
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
  EndSessions();
}

// Releases go to the database one by one as the sessions end. The last session to leave
// cancels the wait, so that the stop goes on at once; the timer's end unloads whoever is left.
void ServerHandler::AfterStop(std::chrono::milliseconds limit, std::function<void()> done) {
  drained_ = std::move(done);
  drainDeadline_ = std::chrono::steady_clock::now() + limit;
  if (!HasSessions()) {
    FinishStop();
    return;
  }
  drainTimer_.expires_at(drainDeadline_);
  drainTimer_.async_wait([alive = std::weak_ptr<ServerHandler*>(alive_)](const std::error_code&) {
    if (const auto owner = alive.lock()) (*owner)->FinishStop();
  });
}

void ServerHandler::FinishStop() {
  if (!drained_) return;
  if (HasSessions() && std::chrono::steady_clock::now() < drainDeadline_) return;
  UnloadSessions();
  heartbeat_.Stop(std::exchange(drained_, {}));
}

bool ServerHandler::HasSessions() const {
  return sessions_ && std::any_of(sessions_->begin(), sessions_->end(),
                                  [](const auto& slot) { return slot != nullptr; });
}

// Each session releases its drop as on a lost connection and then asks for its removal.
void ServerHandler::EndSessions() {
  if (!sessions_) return;
  for (const auto& slot : *sessions_) {
    if (const auto session = slot) session->End();
  }
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
  for (std::size_t index = 0; index < slotPeers_.size(); ++index) FreeSlot(index);
}

}  // namespace talvex
