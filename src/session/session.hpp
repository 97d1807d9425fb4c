// Session: one POP3 client connection, from the accepted socket to its removal from the
// owner's slot table. It owns its socket, its timers, its reply queue and its line buffer,
// and is kept alive by shared_ptr: by the owner's slot while loaded, and by every pending
// socket or timer handler, so that the owner may unload it while one of its own handlers is
// still running.
#pragma once

#include <array>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "host/event_proxy.hpp"
#include "platform/environment.hpp"
#include "platform/failure.hpp"

namespace talvex {

// Timer intervals of a session. Only tests shorten them.
struct SessionTiming {
  std::chrono::milliseconds tick{60000};
};

// Session states.
enum SessionState : std::int32_t {
  Closing = 1,
  AwaitingUser = 2,
  AwaitingPass = 4,
  Transaction = 8,
};

// Removes a trailing ".", then CR LF pairs at the start and at the end.
std::string CleanCommandLine(std::string text);

// Session log lines carry this source.
inline constexpr const char* kSessionSource = "Server Socket";

class Session : public std::enable_shared_from_this<Session> {
 public:
  // Loads a session: salt, timers, session identifier, empty item list.
  Session(asio::any_io_executor executor, const Environment& env, SessionTiming timing);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Fields the owner sets before AcceptConnection.
  bool KeepAlive = false;
  std::shared_ptr<const EventProxy> oEProxy;
  std::int16_t iMyIndex = 0;
  std::string sMyDomain;
  bool bForceDelete = false;

  // Takes over the accepted connection and greets the client.
  void AcceptConnection(asio::ip::tcp::socket socket, const std::string& RemoteHostIP);
  // Closes the socket unless it is closed already.
  void Disconnect();
  // Ends the session without a reply and without releasing anything (the owner's unload).
  void Unload();

  const std::string& SessionID() const { return sSessionID; }
  std::int32_t State() const { return lState; }

 private:
  // Connection frame.
  void ReadNext();
  void OnData(std::string_view chunk);
  void OnPeerClose();
  void OnSocketError(const std::error_code& ec);
  bool SendResponse(std::string_view Message);
  void WriteNext();
  void OnWritten(const std::error_code& ec);
  void CloseNow();
  void OnSendComplete();
  void StartConnectionTimer();
  void tmrConTimeout_Timer();
  void tmrDataTimeout_Timer();
  void TerminateSession();
  void ReportInternalError(const Failure& failure);
  void Log(std::int32_t MessageType, const std::string& Message) const;

  // Commands.
  void ProcessCommand(std::string Line);
  bool CmdCapa(const std::string& line);
  void CmdUnknown(const std::string& line);

  asio::ip::tcp::socket sckServer;
  asio::steady_timer tmrConTimeout;
  asio::steady_timer tmrDataTimeout;
  const Environment env_;
  const SessionTiming timing_;

  std::int32_t lState = AwaitingUser;
  std::vector<std::string> sItems{std::string()};  // item list; entry 0 is never used
  std::string sSessionID;
  std::string sPasswordSalt;
  std::string sUserName;
  std::string sPasswordHash;
  std::string sEmailAddress;
  std::string sHostName;
  bool bQuitReceived = false;
  bool bTerminating = false;

  // Line assembly.
  std::string sLineBuffer;
  bool bDiscarding = false;
  std::string sLineTail;
  std::int16_t iTickCount = 0;

  // Replies waiting for the socket; the front one is being written.
  std::deque<std::string> sendQueue_;
  bool writing_ = false;
  bool unloaded_ = false;
  // Closing waits for replies still being written, for at most a short grace period.
  bool lingering_ = false;
  asio::steady_timer lingerTimer_;
  std::array<char, 8192> readBuffer_{};
};

}  // namespace talvex
