// Session: one POP3 client connection, from the accepted socket to its removal from the
// owner's slot table. It owns its socket, its connection timer, its reply queue and its line
// assembler, hands each assembled line to its commands, and ends itself in order. It is kept
// alive by shared_ptr: by the owner's slot while loaded, and by every pending socket handler,
// timer handler and command, so that the owner may unload it while one of its own handlers is
// still running.
#pragma once

#include <array>
#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "data/backend_pool.hpp"
#include "platform/environment.hpp"
#include "platform/failure.hpp"
#include "platform/log.hpp"
#include "platform/metrics.hpp"
#include "session/commands.hpp"
#include "session/conformance.hpp"
#include "session/event_proxy.hpp"
#include "session/line_assembler.hpp"
#include "session/login_penalty.hpp"
#include "session/message_facts.hpp"
#include "session/posted_steps.hpp"
#include "session/reply_queue.hpp"
#include "session/tls_credentials.hpp"
#include "session/transport.hpp"
#include "session/write_round.hpp"

namespace talvex {

// Timer intervals of a session. Only tests shorten them.
struct SessionTiming {
  std::chrono::milliseconds tick{60000};
  // A client has this long to complete the TLS handshake.
  std::chrono::milliseconds tlsHandshake{10000};
};

// What the owner decides for each session it loads.
struct SessionSettings {
  std::int16_t index = 0;  // the slot: the session's name in log lines and removal requests
  std::string sessionId;   // the session's identifier in the database: 32 hexadecimal digits
  std::string hostName;    // the host as the greeting and Message-IDs name it, domain included
  bool forceDelete = false;
  SessionTiming timing;
  std::shared_ptr<Metrics> metrics;  // where the session's work is counted; none by default
  // The server's memory of worked-out messages, shared by its sessions; none: no memory.
  std::shared_ptr<MessageFacts> facts;
  // Gathers the writes of the owner's sessions per turn of the loop; none: each starts at once.
  std::shared_ptr<WriteRound> writeRound;
  // The server process whose heartbeat keeps the session's lock alive; empty for none.
  std::string instanceId;
  Conformance conformance;  // the dialogue's opt-in behaviours
  // A session in which nobody has logged in by then is closed; zero: no such limit.
  std::chrono::seconds loginTimeout{0};
  // Delays the refusal of a failed log-in by the client's address; none by default.
  std::shared_ptr<LoginPenalty> loginPenalty;
  SessionTls tls;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  // Loads a session: its identifier, its data access (which raises its creation error when the
  // database cannot be reached) and its timers. `backends` are the database connections the
  // owner's sessions share.
  Session(const asio::any_io_executor& executor, SessionSettings settings, EventProxy& owner,
          const Environment& env, std::shared_ptr<data::BackendPool> backends);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Takes over the accepted connection and greets the client. `remoteHostIp` is the peer's
  // address as the connection was accepted.
  void AcceptConnection(asio::ip::tcp::socket socket, const std::string& remoteHostIp);
  // Closes the socket once the replies queued so far have left (or a grace period passed).
  void Disconnect();
  // Ends the session without a reply and without releasing anything (the owner's unload).
  void Unload();
  // Ends the session as a lost connection does (the server's orderly stop): the socket closes,
  // the drop is released without the sign-off's deletions, and the session then asks its owner
  // to remove it.
  void End();

  // For the commands.
  // Sends the reply and CR LF as one write; false, and the session ends, when the connection
  // is gone. A reply of several lines is one text with CR LF between its lines.
  bool SendResponse(std::string_view message);
  // The same for a reply composed in place: `compose` appends the reply's text to the string
  // it is given, which is the outgoing buffer itself, so no copy of the reply is made. It must
  // not await. A failure while composing sends nothing of the reply.
  template <class Compose>
  bool SendComposed(Compose&& compose);
  // A piece of a long reply composed in place, without a line end: the reply's last piece goes
  // through SendComposed. The session must send nothing else until the reply is complete.
  template <class Compose>
  bool SendPart(Compose&& compose);
  // Replies sent while the returned object lives gather and leave in as few writes as
  // possible; its end hands them over.
  ReplyQueue::Batch GatherReplies() { return ReplyQueue::Batch(replies_); }
  void Log(Severity severity, std::string_view message) const;
  // Counts for the server's metrics, when it keeps any.
  void Count(Metrics::Counter counter, std::uint64_t n = 1) const {
    if (settings_.metrics) settings_.metrics->Count(counter, n);
  }
  void CountCommand(std::string_view word) const {
    if (settings_.metrics) settings_.metrics->CommandReceived(word);
  }
  // Termination has begun: listings stop.
  bool Terminating() const { return phase_ != Phase::kOpen; }
  // Lets every other event of the loop run once, then waits while the client is far behind in
  // reading what was sent, so a long listing cannot queue without bound.
  asio::awaitable<void> Yield();
  // step(0), ..., step(count - 1) with a Yield after each: the steps of a listing. Stops once
  // termination has begun, and then gives false.
  asio::awaitable<bool> EachItem(std::size_t count, const ListingStep& step);
  // After a failed log-in: waits the penalty the owner sets for the client's address, if any,
  // without holding up any other session.
  asio::awaitable<void> PenalizeFailedLogIn();
  const std::string& SessionID() const { return settings_.sessionId; }
  const std::string& HostName() const { return settings_.hostName; }
  // STLS can be offered: TLS is configured and this connection has none yet.
  bool TlsOffered() const { return settings_.tls.context && !transport_.Secure(); }
  bool TlsConfigured() const { return settings_.tls.context != nullptr; }
  // Log-in commands are refused until TLS is on.
  bool TlsMissing() const { return settings_.tls.required && !transport_.Secure(); }
  // After the reply queued last has left, negotiates TLS; whatever the client sent after the
  // command is dropped unread, so nothing sent in plain text passes for a protected command.
  void StartTls();

 private:
  enum class Phase { kOpen, kTerminating, kUnloaded };

  void ReadNext();
  asio::awaitable<void> YieldUntilRoom();  // Yield when the replies queued fill the queue
  void Greet();
  void BeginHandshake();
  void OnHandshake(const std::error_code& ec);
  void OnData(std::string_view chunk);
  asio::awaitable<void> Dispatch(std::string line);
  bool CanSend();
  void OnWritten(const std::error_code& ec);
  void ConnectionLost();
  void CloseNow();
  void CloseDrained();
  void StartLingerTimer();
  void StartConnectionTimer();
  void OnConnectionTick();
  // The time limits (session_limits.cpp): the fixed session age or the inactivity timer, and
  // the time to log in.
  void StartTimers();
  void RestartInactivityTimer();
  void StartLoginTimer();
  void CloseForTimeLimit(std::string_view limit);
  void TerminateSession();
  asio::awaitable<void> Terminate();
  void ReportInternalError(const Failure& failure);

  Transport transport_;
  asio::steady_timer connectionTimer_;
  asio::steady_timer lingerTimer_;
  asio::steady_timer inactivityTimer_;
  std::size_t unsentAtWait_ = 0;  // the kernel's send queue when the inactivity wait began
  asio::steady_timer loginTimer_;
  const SessionSettings settings_;
  EventProxy& owner_;
  std::string peer_;  // the client's address, as the owner counts and penalizes it
  Commands commands_;
  LineAssembler lines_;
  Phase phase_ = Phase::kOpen;
  std::int16_t ticks_ = 0;
  // Replies waiting for the socket, and the one write that takes them.
  ReplyQueue replies_;
  // Disconnect came while replies were still queued; the socket closes when they have left.
  bool lingering_ = false;
  // TLS is being negotiated, or will be once the reply to STLS has left: nothing is read.
  bool tlsPending_ = false;
  std::array<char, 8192> readBuffer_{};
};

template <class Compose>
bool Session::SendComposed(Compose&& compose) {
  return SendPart([&compose](std::string& out) {
    std::forward<Compose>(compose)(out);
    out.append("\r\n");
  });
}

template <class Compose>
bool Session::SendPart(Compose&& compose) {
  if (!CanSend()) return false;
  if (commands_.Closing()) transport_.WritingLast();
  ReplyQueue::Draft draft(replies_);
  std::forward<Compose>(compose)(draft.Text());
  draft.Send();
  return true;
}

}  // namespace talvex
