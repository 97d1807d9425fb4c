// ServerHandler: the server core. It owns the listening socket, the table of session slots
// and the EventProxy shared by all sessions; turns each connection into a session in the
// lowest free slot, removes sessions that ask to be removed, restarts the listener after a
// listener error, and raises one EventLog for its own lines and every session's line.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/event_proxy.hpp"
#include "platform/environment.hpp"
#include "session/session.hpp"

namespace talvex {

class ServerHandler {
 public:
  using EventLogEvent = std::function<void(std::int32_t MessageType, const std::string& Source,
                                           const std::string& Message)>;

  ServerHandler(asio::io_context& io, Environment env, SessionTiming timing = {});
  ~ServerHandler();
  ServerHandler(const ServerHandler&) = delete;
  ServerHandler& operator=(const ServerHandler&) = delete;

  bool IsAlive() const { return true; }
  // Writes MaxConnections - 1 as the highest slot index; reads give that index back.
  void MaxConnections(std::int16_t value);
  std::int16_t MaxConnections() const { return iMaxIndex; }
  void MyDomain(std::string value) { sMyDomain = std::move(value); }
  const std::string& MyDomain() const { return sMyDomain; }
  void ForceDelete(bool value) { bForceDelete = value; }
  bool ForceDelete() const { return bForceDelete; }

  // Raises to the caller only when the session table cannot be made; every other failure is
  // logged here and gives False.
  bool StartServer(std::int16_t PortNumber);
  // Raises when there is no listener (never started, or stopped already).
  void StopServer();
  bool CreateServerInstance(asio::ip::tcp::socket socket, const std::string& RemoteHostIP);
  void KillServerInstance(std::int16_t Index);

  // The port the listener is bound to (differs from the requested one for port 0).
  std::uint16_t BoundPort() const { return boundPort_; }

  EventLogEvent EventLog;

 private:
  void Raise(std::int32_t MessageType, const std::string& Message) const;
  void LogLastError(const Failure& failure) const;
  void Listen(std::int16_t PortNumber);
  void AcceptNext();
  void OnAccept(const std::error_code& ec, asio::ip::tcp::socket socket);
  void OnListenerError(const std::error_code& ec);
  bool HasFreeSlot() const;
  void oEProxy_EventLog(std::int32_t MessageType, const std::string& Message) const;
  void oEProxy_KillServer(std::int16_t Index);

  asio::io_context& io_;
  const Environment env_;
  const SessionTiming timing_;

  std::unique_ptr<asio::ip::tcp::acceptor> oListener;
  std::shared_ptr<EventProxy> oEProxy;
  // The database connections of this server's sessions, kept from one session to the next.
  std::shared_ptr<data::BackendPool> backends_;
  std::optional<std::vector<std::shared_ptr<Session>>> oServers;
  bool bForceDelete = false;
  std::int16_t iPortNumber = 0;
  std::string sMyDomain;
  std::int16_t iMaxIndex = 7;
  bool bStopping = false;

  std::uint16_t boundPort_ = 0;
  asio::ip::tcp::endpoint requestPeer_;  // peer of the connection being accepted
  bool accepting_ = false;               // an accept is outstanding on the listener
  // Bumped whenever the listener is replaced, so that a late accept completion of an old
  // listener is recognised and ignored.
  std::uint64_t listenerGeneration_ = 0;
  // Lets accept completions find out whether the handler still exists.
  std::shared_ptr<ServerHandler*> alive_;
};

}  // namespace talvex
