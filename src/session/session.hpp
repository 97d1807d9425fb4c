// Session: one POP3 client connection, from the accepted socket to its removal from the
// owner's slot table. It owns its socket, its timers, its reply queue and its line buffer,
// and is kept alive by shared_ptr: by the owner's slot while loaded, and by every pending
// socket or timer handler, so that the owner may unload it while one of its own handlers is
// still running.
#pragma once

#include <array>
#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/data_handler.hpp"
#include "data/recordset.hpp"
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

// Session log lines carry this source.
inline constexpr const char* kSessionSource = "Server Socket";

class Session : public std::enable_shared_from_this<Session> {
 public:
  // Loads a session: salt, timers, session identifier, empty item list.
  // `backends` are the database connections the owner's sessions share.
  Session(const asio::any_io_executor& executor, const Environment& env, SessionTiming timing,
          std::shared_ptr<data::BackendPool> backends);
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

  // Command dispatch and log-in (commands.cpp). A line is dispatched in a coroutine, because
  // listings yield to the event loop after each item; the socket is read again only when the
  // line has been dealt with, so one client's commands never overlap.
  void ProcessCommand(std::string Line);
  asio::awaitable<void> DispatchCommand(std::string Line);
  bool CmdPass(const std::string& line);
  asio::awaitable<bool> CmdCapa(const std::string& line);
  asio::awaitable<bool> CmdUser(const std::string& line);
  void CmdUnknown(const std::string& line);
  bool SetSessionItemsStatus(bool ClearItems, std::int32_t Status);
  void LoadMailDrop();

  // Transaction and update commands (transaction_commands.cpp).
  asio::awaitable<bool> CmdStat(const std::string& line);
  asio::awaitable<bool> CmdList(const std::string& line);
  asio::awaitable<bool> CmdUidl(const std::string& line);
  asio::awaitable<bool> CmdDele(const std::string& line);
  asio::awaitable<bool> CmdRset(const std::string& line);
  asio::awaitable<bool> CmdNoop(const std::string& line);
  asio::awaitable<bool> CmdQuit(const std::string& line);
  asio::awaitable<bool> CmdRetr(const std::string& line);
  asio::awaitable<bool> CmdTop(const std::string& line);
  void ReplyOutOfRange();
  void ReplyNoLongerAvailable();
  void ReplyNotValidInThisState();
  std::size_t MessageCount() const { return sItems.size() - 1; }
  // Loads the message a one-argument command names into rsItem. Replies itself when the number
  // is out of range or the item is gone; NotNumeric leaves the line to the unknown-command
  // reply.
  struct Loaded {
    enum Kind { Item, Replied, NotNumeric } kind;
    std::size_t number = 0;  // the message loaded
  };
  Loaded LoadMessage(const std::string& argument);
  // Loads message n's statistics into rsItem; true when the item still has a row.
  bool LoadItemStats(std::size_t n);
  std::int64_t MessageSize();
  std::string MessageIdentifier();
  // The STAT pass: count and total size of the messages still available; nullopt when the
  // session began to terminate meanwhile.
  asio::awaitable<std::optional<std::pair<std::int64_t, std::int64_t>>> StatPass();
  asio::awaitable<void> Yield();
  enum class Listing { Sizes, Identifiers };
  asio::awaitable<bool> ListMessages(const std::string& line, Listing kind);

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
  Recordset rsItem;
  std::unique_ptr<DataHandler> oDataHandler;
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
  bool dispatching_ = false;  // a command line is being dealt with
  // Closing waits for replies still being written, for at most a short grace period.
  bool lingering_ = false;
  asio::steady_timer lingerTimer_;
  std::array<char, 8192> readBuffer_{};
};

}  // namespace talvex
