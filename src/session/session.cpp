// The session's connection: accepting and greeting, reading into the line assembler, the reply
// queue, the connection time limit and the orderly end.
#include "session/session.hpp"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>

#include "platform/resources.hpp"
#include "platform/socket_errors.hpp"

namespace talvex {

namespace {

// The connection ends at this tick of the connection timer, whatever the client does.
constexpr std::int16_t kConnectionTicks = 10;
// How long a closing connection may take to hand over the replies queued before the close.
constexpr std::chrono::seconds kLingerTime{10};

}  // namespace

Session::Session(const asio::any_io_executor& executor, SessionSettings settings, EventProxy& owner,
                 const Environment& env, std::shared_ptr<data::BackendPool> backends)
    : transport_(executor),
      connectionTimer_(executor),
      lingerTimer_(executor),
      inactivityTimer_(executor),
      loginTimer_(executor),
      settings_(std::move(settings)),
      owner_(owner),
      // The data layer's lines reach the owner as the session's own.
      commands_(*this,
                MailDropView(data::MailDropStore(
                                 env, std::move(backends),
                                 [this](Severity severity, std::string_view,
                                        std::string_view line) { Log(severity, line); },
                                 settings_.instanceId),
                             settings_.sessionId, settings_.facts),
                settings_.forceDelete, settings_.conformance),
      replies_(
          transport_, [this] { return std::shared_ptr<void>(shared_from_this()); },
          [this](const std::error_code& ec) { OnWritten(ec); }, settings_.writeRound) {}

void Session::Log(Severity severity, std::string_view message) const {
  if (phase_ != Phase::kUnloaded) owner_.ProxEventLog(severity, message);
}

void Session::AcceptConnection(asio::ip::tcp::socket socket, const std::string& remoteHostIp) {
  try {
    const std::string slot = std::to_string(settings_.index);
    Log(Severity::kDetail, "POP3 server socket " + slot + " created");
    transport_.Socket() = std::move(socket);  // with the listener's options (see ServerHandler)
    peer_ = remoteHostIp;
    Log(Severity::kDetail, peer_ + " Connected");
    StartTimers();
    if (settings_.tls.implicit) {  // the greeting is the first thing sent under TLS
      BeginHandshake();
      return;
    }
    Greet();
    ReadNext();
  } catch (const std::exception& error) {
    ReportInternalError(ToFailure(error));
  }
}

void Session::Greet() {
  SendComposed([this](std::string& out) {
    out.append("+OK ").append(resources::ProductBanner());
    out.append(" (").append(settings_.hostName).append(") ready.");
  });
}

void Session::StartTls() {
  lines_ = LineAssembler();
  tlsPending_ = true;
  if (replies_.Idle()) BeginHandshake();
}

void Session::BeginHandshake() {
  tlsPending_ = true;
  transport_.StartTls(settings_.tls.context, settings_.timing.tlsHandshake, shared_from_this(),
                      [this](const std::error_code& ec) { OnHandshake(ec); });
}

void Session::OnHandshake(const std::error_code& ec) {
  if (phase_ != Phase::kOpen) return;
  if (ec) {
    Log(Severity::kDetail,
        "TLS handshake on socket " + std::to_string(settings_.index) + " failed: " + ec.message());
    End();
    return;
  }
  tlsPending_ = false;
  Log(Severity::kDetail,
      "TLS on socket " + std::to_string(settings_.index) + ": " + transport_.TlsDescription());
  if (settings_.tls.implicit) Greet();
  ReadNext();
}

// Nothing is read after the sign-off: the session ends once its reply has left.
void Session::ReadNext() {
  if (phase_ != Phase::kOpen || !transport_.IsOpen() || tlsPending_ || commands_.Closing()) {
    return;
  }
  transport_.async_read_some(
      asio::buffer(readBuffer_), [self = shared_from_this()](std::error_code ec, std::size_t n) {
        if (self->phase_ != Phase::kOpen || ec == asio::error::operation_aborted) return;
        if (ec == asio::error::eof) {
          self->TerminateSession();
        } else if (ec) {
          self->Log(Severity::kDetail, "Socket " + std::to_string(self->settings_.index) +
                                           " Error: " + std::to_string(SocketErrorNumber(ec)) +
                                           ". " + SocketErrorDescription(ec));
          self->TerminateSession();
        } else {
          self->OnData(std::string_view(self->readBuffer_.data(), n));
        }
      });
}

// A completed line is dealt with in a coroutine, because commands wait for the database and
// listings yield; the socket is read again only when the line has been dealt with, so one
// client's commands never overlap.
void Session::OnData(std::string_view chunk) {
  try {
    auto line = lines_.Feed(chunk);
    if (!line) {
      ReadNext();
      return;
    }
    asio::co_spawn(
        transport_.get_executor(),
        [self = shared_from_this(), line = *std::move(line)]() mutable {
          return self->Dispatch(std::move(line));
        },
        asio::detached);
  } catch (const std::exception& error) {
    ReportInternalError(ToFailure(error));
  }
}

asio::awaitable<void> Session::Dispatch(std::string line) {
  RestartInactivityTimer();
  try {
    co_await commands_.ProcessCommand(std::move(line));
  } catch (const std::exception& error) {
    ReportInternalError(ToFailure(error));
  }
  // A client that sends commands without reading the replies is read again only once it has
  // caught up.
  co_await replies_.WaitForRoom();
  RestartInactivityTimer();  // the client has read the replies: it is waited for from now
  ReadNext();
}

// A listing yields once per item, so the common case (room for more replies) is the bare post,
// without a coroutine frame of its own.
asio::awaitable<void> Session::Yield() {
  if (!replies_.Full()) return asio::post(transport_.get_executor(), asio::use_awaitable);
  return YieldUntilRoom();
}

// The steps between two waits for room run as posted handlers of their own (see
// posted_steps.hpp); each resumption of this coroutine is a wait for room, or the end.
asio::awaitable<bool> Session::EachItem(std::size_t count, const ListingStep& step) {
  const StopCheck stop = [this] { return Terminating() || replies_.Full(); };
  std::size_t next = 0;
  while (next < count) {
    step(next);
    next = co_await RunPostedSteps(transport_.get_executor(), next + 1, count, step, stop);
    if (replies_.Full()) {
      co_await replies_.WaitForRoom();
      RestartInactivityTimer();
    }
    if (Terminating()) co_return false;
  }
  co_return true;
}

asio::awaitable<void> Session::YieldUntilRoom() {
  co_await asio::post(transport_.get_executor(), asio::use_awaitable);
  if (!replies_.Full()) co_return;
  co_await replies_.WaitForRoom();
  // The client reads what it asked for, however slowly (a large message): it is not idle.
  RestartInactivityTimer();
}

// Every reply is handed over whole; replies that queue while a write is under way leave
// together with the next write. When the queue has drained, a session whose dialogue is
// closing ends.
bool Session::SendResponse(std::string_view message) {
  return SendComposed([message](std::string& out) { out.append(message); });
}

bool Session::CanSend() {
  if (phase_ == Phase::kUnloaded || lingering_ || !transport_.IsOpen()) {
    ConnectionLost();
    return false;
  }
  return true;
}

// The queue reports a failed write, or a successful one after which nothing is left.
void Session::OnWritten(const std::error_code& ec) {
  if (ec) {
    if (ec == asio::error::operation_aborted) return;
    if (phase_ == Phase::kUnloaded || lingering_) {
      CloseNow();
    } else {
      ConnectionLost();
    }
  } else if (lingering_) {
    CloseDrained();
  } else if (tlsPending_ && !transport_.Secure()) {
    BeginHandshake();
  } else if (phase_ == Phase::kOpen && commands_.Closing()) {
    End();
  }
}

void Session::ConnectionLost() {
  Log(Severity::kConnectionLost,
      "Connection lost, terminating socket " + std::to_string(settings_.index));
  End();
}

// A reply queued before the close (the sign-off, an error reply) is still delivered: the
// socket closes when the queue has drained, or after a grace period.
void Session::Disconnect() {
  if (!transport_.IsOpen() || lingering_) return;
  lingering_ = true;
  if (replies_.Idle()) {
    CloseDrained();
    return;
  }
  replies_.Flush();  // replies gathered by a listing leave now, not when the listing stops
  StartLingerTimer();
}

void Session::StartLingerTimer() {
  lingerTimer_.expires_after(kLingerTime);
  lingerTimer_.async_wait([self = shared_from_this()](const std::error_code& ec) {
    if (!ec) self->CloseNow();
  });
}

// Everything queued has been written: the stream's end is said (under TLS) and the socket
// closed. A peer that reads nothing more cannot hold the alert up beyond the linger time.
void Session::CloseDrained() {
  if (!transport_.Negotiated()) {
    CloseNow();
    return;
  }
  StartLingerTimer();
  transport_.EndStream(shared_from_this(), [this] { CloseNow(); });
}

void Session::CloseNow() {
  lingerTimer_.cancel();
  transport_.Close();
}

void Session::StartConnectionTimer() {
  connectionTimer_.expires_after(settings_.timing.tick);
  connectionTimer_.async_wait([self = shared_from_this()](const std::error_code& ec) {
    if (!ec && self->phase_ == Phase::kOpen) self->OnConnectionTick();
  });
}

// Every session ends ten ticks after it was accepted, whatever it is doing; client activity
// does not reset the count.
void Session::OnConnectionTick() {
  if (++ticks_ < kConnectionTicks) {
    StartConnectionTimer();
    return;
  }
  End();
}

void Session::TerminateSession() {
  // Once termination has begun the slot may soon hold another session: nothing runs twice.
  if (phase_ != Phase::kOpen) return;
  phase_ = Phase::kTerminating;
  asio::co_spawn(
      transport_.get_executor(), [self = shared_from_this()] { return self->Terminate(); },
      asio::detached);
}

asio::awaitable<void> Session::Terminate() {
  try {
    co_await commands_.ReleaseMailDrop();
  } catch (const std::exception& error) {
    Log(Severity::kDetail, ErrorLine(ToFailure(error)));  // the session ends regardless
  }
  // An owner that unloaded the session meanwhile has let go of its slot, which may hold
  // another session by now.
  if (phase_ == Phase::kUnloaded) co_return;
  owner_.ProxKillServer(settings_.index);
  Unload();
}

void Session::End() {
  Disconnect();
  TerminateSession();
}

void Session::Unload() {
  if (phase_ == Phase::kUnloaded) return;
  connectionTimer_.cancel();
  inactivityTimer_.cancel();
  loginTimer_.cancel();
  Disconnect();
  Log(Severity::kDetail, "POP3 server socket " + std::to_string(settings_.index) + " destroyed");
  phase_ = Phase::kUnloaded;
}

void Session::ReportInternalError(const Failure& failure) {
  // A session already on its way out reports nothing more.
  if (phase_ != Phase::kOpen) return;
  constexpr std::string_view kText = "Internal server error occured. Closing transmission channel";
  SendResponse(std::string(settings_.conformance.respCodes ? "-ERR [SYS/TEMP] " : "-ERR ") +
               std::string(kText));
  Log(Severity::kDetail, ErrorLine(failure));
  TerminateSession();
}

}  // namespace talvex
