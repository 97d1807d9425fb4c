// ServerHandler: the server core. It owns the listening socket and the table of session
// slots; turns each connection into a session in the lowest free slot, removes sessions that
// ask to be removed, listens anew after a listener error (a failure of the listening socket
// itself) with its sessions kept, pauses accepting while the process is out of descriptors or
// memory, keeps the process's heartbeat in the database while it listens, and reports its own
// lines
// and every session's line to its log, all with the source "ServerHandler Class". It is the
// EventProxy of its sessions.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/backend_pool.hpp"
#include "host/instance_heartbeat.hpp"
#include "host/login_throttle.hpp"
#include "platform/environment.hpp"
#include "platform/failure.hpp"
#include "platform/guid.hpp"
#include "platform/log.hpp"
#include "platform/metrics.hpp"
#include "platform/net.hpp"
#include "session/event_proxy.hpp"
#include "session/session.hpp"
#include "session/tls_credentials.hpp"
#include "session/write_round.hpp"

namespace talvex {

class ServerHandler final : public EventProxy {
 public:
  ServerHandler(asio::io_context& io, Environment env, LogSink log, SessionTiming timing = {});
  // Unloads every session still held, so that none reports to a handler that is gone.
  ~ServerHandler();
  ServerHandler(const ServerHandler&) = delete;
  ServerHandler& operator=(const ServerHandler&) = delete;

  bool IsAlive() const { return true; }
  // Writes MaxConnections - 1 as the highest slot index; reads give that index back.
  void MaxConnections(std::int16_t value);
  std::int16_t MaxConnections() const { return maxIndex_; }
  void MyDomain(std::string value) { myDomain_ = std::move(value); }
  const std::string& MyDomain() const { return myDomain_; }
  void ForceDelete(bool value) { forceDelete_ = value; }
  bool ForceDelete() const { return forceDelete_; }
  void ReusePort(bool value) { reusePort_ = value; }
  // The dialogue's opt-in behaviours, for the sessions loaded from now on.
  void UseConformance(const Conformance& value) { conformance_ = value; }
  // Abuse limits, each off at zero (or false): seconds to log in, connections per client
  // address, and a growing wait before the refusal of a failed log-in by address.
  void LoginTimeout(std::chrono::seconds value) { loginTimeout_ = value; }
  void MaxPerAddress(std::int16_t value) { maxPerAddress_ = value; }
  void LoginDelay(bool value);
  // With credentials, connections to `tlsPort` negotiate TLS before the greeting and the plain
  // port offers STLS; `required` refuses log-ins without TLS. A port below zero: no TLS port.
  void UseTls(std::shared_ptr<const TlsCredentials> credentials, std::int32_t tlsPort,
              bool required) {
    tlsCredentials_ = std::move(credentials);
    tlsPort_ = tlsPort;
    tlsRequired_ = required;
  }
  // Where the sessions are counted; none by default.
  void UseMetrics(std::shared_ptr<Metrics> metrics) {
    backends_->UseMetrics(metrics);
    metrics_ = std::move(metrics);
  }

  // Raises to the caller only when the session table cannot be made; every other failure is
  // logged here and gives false.
  bool StartServer(std::int16_t portNumber);
  // Raises when there is no listener (never started, or stopped already). The sessions end as
  // if their connections were lost: each releases its drop, then leaves its slot.
  void StopServer();
  // After StopServer: runs `done` on the event loop once every session has left (those still
  // there after `limit` are unloaded unreleased) and the process's heartbeat row is removed, so
  // that a host may end its loop then without leaving a drop locked. A second call before then
  // takes the first one's place.
  void AfterStop(std::chrono::milliseconds limit, std::function<void()> done);
  bool CreateServerInstance(asio::ip::tcp::socket socket, const std::string& remoteHostIp,
                            bool implicitTls = false);
  void KillServerInstance(std::int16_t index);

  // The port the listener is bound to (differs from the requested one for port 0).
  std::uint16_t BoundPort() const { return boundPort_; }
  std::uint16_t BoundTlsPort() const { return boundTlsPort_; }

  // EventProxy: a session's line goes on as the handler's own; a session that ended is removed.
  void ProxEventLog(Severity severity, std::string_view message) override;
  void ProxKillServer(std::int16_t index) override;

 private:
  void Raise(Severity severity, std::string_view message) const;
  void LogLastError(const Failure& failure) const;
  void Listen(std::int16_t portNumber);
  void OpenListener(asio::ip::tcp::acceptor& listener, std::int16_t portNumber);
  void AcceptNext();
  void AcceptOn(asio::ip::tcp::acceptor* listener, bool ServerHandler::*accepting,
                bool implicitTls);
  void OnAccept(const std::error_code& ec, asio::ip::tcp::socket socket, const std::string& peer,
                bool implicitTls);
  void OnListenerError(const std::error_code& ec);
  void Relisten();
  // Runs the stop's `done` once no session is left or its time is up; otherwise nothing.
  void FinishStop();
  void PauseAccepting(const std::error_code& ec);
  bool HasFreeSlot() const;
  void UnloadSessions();
  void EndSessions();
  bool HasSessions() const;
  // The connections each client address holds, by slot; over the limit a connection is told
  // so and closed without a session.
  bool OverAddressLimit(const std::string& peer) const;
  void RefuseConnection(asio::ip::tcp::socket socket, const std::string& peer);
  void HoldSlot(std::size_t index, const std::string& peer);
  void FreeSlot(std::size_t index);

  asio::io_context& io_;
  const Environment env_;
  const LogSink log_;
  const SessionTiming timing_;

  std::unique_ptr<asio::ip::tcp::acceptor> listener_;
  // The implicit-TLS listener, beside the plain one while TLS is configured with a port.
  std::unique_ptr<asio::ip::tcp::acceptor> tlsListener_;
  std::shared_ptr<const TlsCredentials> tlsCredentials_;
  std::int32_t tlsPort_ = -1;
  bool tlsRequired_ = false;
  // The database connections of this server's sessions, kept from one session to the next.
  std::shared_ptr<data::BackendPool> backends_;
  // Keeps the locks of this process's sessions alive; their lock rows carry its identifier.
  InstanceHeartbeat heartbeat_;
  // While a stop waits for the sessions to leave: the end of its wait, and what it runs then.
  asio::steady_timer drainTimer_;
  std::chrono::steady_clock::time_point drainDeadline_;
  std::function<void()> drained_;
  // The session table: MaxConnections slots while started, none before.
  std::optional<std::vector<std::shared_ptr<Session>>> sessions_;
  bool forceDelete_ = false;
  bool reusePort_ = false;
  std::shared_ptr<Metrics> metrics_;
  Conformance conformance_;
  std::chrono::seconds loginTimeout_{0};
  std::int16_t maxPerAddress_ = 0;
  std::shared_ptr<LoginThrottle> loginThrottle_;
  // What the sessions' listings have worked out, for the sessions that come after.
  std::shared_ptr<MessageFacts> facts_ = std::make_shared<MessageFacts>();
  std::shared_ptr<WriteRound> writeRound_ = std::make_shared<WriteRound>(io_.get_executor());
  // Each new session's identifier and the host name it greets with.
  IdentifierSource sessionIds_;
  HostNameCache hostNames_;
  std::vector<std::string> slotPeers_;  // the address of each slot's session
  std::unordered_map<std::string, std::int32_t> perAddress_;
  std::int16_t portNumber_ = 0;
  std::string myDomain_;
  std::int16_t maxIndex_ = 7;
  bool stopping_ = false;  // a close of the listener is the stop's own and not logged

  std::uint16_t boundPort_ = 0;
  std::uint16_t boundTlsPort_ = 0;
  bool accepting_ = false;     // an accept is outstanding on the listener
  bool tlsAccepting_ = false;  // and on the TLS listener
  // Out of descriptors or memory, an accept fails while the connection stays queued; accepting
  // waits a moment instead of spinning on it, and the episode is logged once.
  asio::steady_timer acceptPause_;
  bool acceptPaused_ = false;
  // An episode is under way: logged at its start, and at its end, the first accept after a
  // second without failures (while descriptors run short, accepts succeed and fail in turn).
  bool acceptTrouble_ = false;
  std::chrono::steady_clock::time_point lastAcceptFailure_;
  // Bumped whenever the listener is replaced, so that a late accept completion of an old
  // listener is recognised and ignored.
  std::uint64_t listenerGeneration_ = 0;
  // Lets accept completions find out whether the handler still exists.
  std::shared_ptr<ServerHandler*> alive_;
};

}  // namespace talvex
