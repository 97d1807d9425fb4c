// The session's connection frame: accepting and greeting, line assembly, the reply queue,
// the connection time limit and the orderly end of a session.
#include "session/session.hpp"

#include <asio/write.hpp>

#include "platform/ansi.hpp"
#include "platform/guid.hpp"
#include "platform/net.hpp"
#include "platform/resources.hpp"
#include "platform/socket_errors.hpp"

namespace talvex {

namespace {

// A command line holds at most this many characters; the rest of a longer line is dropped.
constexpr std::size_t kMaxLineLength = 4096;
// While a long line is dropped, only this many of its last characters are kept to find its end.
constexpr std::size_t kTailWindow = 5;
// The connection ends at this tick of the connection timer, whatever the client does.
constexpr std::int16_t kConnectionTicks = 10;

// How long a closing connection may take to hand over the replies queued before the close.
constexpr std::chrono::seconds kLingerTime{10};

constexpr std::string_view kCrLf = "\r\n";

bool EndsWithCrLf(std::string_view text) {
  return text.ends_with(kCrLf);
}

std::string StripGuidPunctuation(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c != '{' && c != '}' && c != '-') out += c;
  }
  return out;
}

std::string NewSessionID() {
  const auto guid = guid::NewGuid();
  return guid ? StripGuidPunctuation(guid::ToRegistryForm(*guid)) : std::string();
}

std::string Greeting(const std::string& hostName) {
  return "+OK " + std::string(resources::LoadResString(resources::StringId::kProductLabel)) + " " +
         std::string(resources::kProductName) + " version " +
         std::to_string(resources::kVersionMajor) + "." + std::to_string(resources::kVersionMinor) +
         "." + std::to_string(resources::kVersionRevision) + " (" + hostName + ") ready.";
}

}  // namespace

Session::Session(const asio::any_io_executor& executor, const Environment& env,
                 SessionTiming timing, std::shared_ptr<data::BackendPool> backends)
    : sckServer(executor),
      tmrConTimeout(executor),
      tmrDataTimeout(executor),
      env_(env),
      timing_(timing),
      sPasswordSalt(resources::LoadResString(resources::StringId::kPasswordSalt)),
      lingerTimer_(executor) {
  KeepAlive = true;
  // The data layer's lines reach the owner as the session's own.
  oDataHandler = std::make_unique<DataHandler>(env_, std::move(backends));
  oDataHandler->SetEventLog([this](Severity severity, std::string_view, std::string_view message) {
    Log(static_cast<std::int32_t>(severity), std::string(message));
  });
  sSessionID = NewSessionID();
}

Session::~Session() = default;

void Session::Log(std::int32_t MessageType, const std::string& Message) const {
  if (oEProxy && !unloaded_) oEProxy->ProxEventLog(MessageType, kSessionSource, Message);
}

void Session::AcceptConnection(asio::ip::tcp::socket socket, const std::string& RemoteHostIP) {
  try {
    const std::string hostName = LocalHostName();
    sHostName = sMyDomain.empty() ? hostName : hostName + "." + sMyDomain;
    Log(7, "POP3 server socket " + std::to_string(iMyIndex) + " created");
    sckServer = std::move(socket);
    std::error_code ec;
    sckServer.set_option(asio::ip::tcp::no_delay(true), ec);
    lState = AwaitingUser;
    // The address is read from the socket; a peer that has already reset the connection has
    // none left, and the address of its request stands in.
    std::string peer = PeerAddress(sckServer);
    Log(7, (peer.empty() ? RemoteHostIP : peer) + " Connected");
    SendResponse(Greeting(sHostName));
    StartConnectionTimer();
    ReadNext();
  } catch (const std::exception& error) {
    ReportInternalError(ToFailure(error));
  }
}

// A reply queued before the close (the sign-off, an error reply) is still delivered: the
// socket closes when the queue has drained, or after a grace period.
void Session::Disconnect() {
  if (!sckServer.is_open() || lingering_) return;
  if (!writing_) {
    CloseNow();
    return;
  }
  lingering_ = true;
  lingerTimer_.expires_after(kLingerTime);
  lingerTimer_.async_wait([self = shared_from_this()](const std::error_code& ec) {
    if (!ec) self->CloseNow();
  });
}

void Session::CloseNow() {
  std::error_code ec;
  lingerTimer_.cancel();
  sckServer.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
  sckServer.close(ec);
}

void Session::Unload() {
  if (unloaded_) return;
  sItems.assign(1, std::string());
  rsItem = Recordset();
  oDataHandler.reset();
  tmrConTimeout.cancel();
  tmrDataTimeout.cancel();
  Disconnect();
  Log(7, "POP3 server socket " + std::to_string(iMyIndex) + " destroyed");
  unloaded_ = true;
}

void Session::ReadNext() {
  if (unloaded_ || !sckServer.is_open()) return;
  sckServer.async_read_some(asio::buffer(readBuffer_),
                            [self = shared_from_this()](const std::error_code& ec, std::size_t n) {
                              if (self->unloaded_) return;
                              if (ec == asio::error::eof) {
                                self->OnPeerClose();
                              } else if (ec == asio::error::operation_aborted) {
                                return;
                              } else if (ec) {
                                self->OnSocketError(ec);
                              } else {
                                self->OnData(std::string_view(self->readBuffer_.data(), n));
                                if (!self->dispatching_) self->ReadNext();
                              }
                            });
}

// A line ends only where a received chunk ends with CR LF. A line that grows past the limit
// keeps its first part; only a small window of its end is kept, to see where it ends, so a
// client cannot grow the buffer without bound.
void Session::OnData(std::string_view chunk) {
  try {
    if (!bDiscarding) sLineBuffer.append(chunk);
    if (bDiscarding || sLineBuffer.size() > kMaxLineLength) {
      if (!bDiscarding) {
        bDiscarding = true;
        sLineTail = sLineBuffer;
        sLineBuffer.resize(kMaxLineLength);
      } else {
        sLineTail = sLineTail.substr(sLineTail.size() - std::min(sLineTail.size(), kTailWindow));
        sLineTail.append(chunk);
      }
      const bool ended = EndsWithCrLf(sLineTail);
      // Only the window is needed from here on.
      if (sLineTail.size() > kTailWindow) sLineTail.erase(0, sLineTail.size() - kTailWindow);
      if (ended) {
        std::string line = sLineBuffer + std::string(kCrLf);
        sLineBuffer.clear();
        sLineTail.clear();
        bDiscarding = false;
        ProcessCommand(std::move(line));
      }
    } else if (EndsWithCrLf(sLineBuffer)) {
      std::string line = std::move(sLineBuffer);
      sLineBuffer.clear();
      ProcessCommand(std::move(line));
    }
  } catch (const std::exception& error) {
    ReportInternalError(ToFailure(error));
  }
}

void Session::OnPeerClose() {
  try {
    TerminateSession();
  } catch (...) {  // NOLINT(bugprone-empty-catch): a peer close ends the session regardless
  }
}

void Session::OnSocketError(const std::error_code& ec) {
  Log(7, "Socket " + std::to_string(iMyIndex) + " Error: " + std::to_string(SocketErrorNumber(ec)) +
             ". " + SocketErrorDescription(ec));
  TerminateSession();
}

// Every reply goes out as one write; replies queue behind the one being written. "Send
// complete" is the moment the queue has drained.
bool Session::SendResponse(std::string_view Message) {
  if (unloaded_ || lingering_ || !sckServer.is_open()) {
    Log(5, "Connection lost, terminating socket " + std::to_string(iMyIndex));
    lState = Closing;
    Disconnect();
    TerminateSession();
    return false;
  }
  std::string reply;
  reply.reserve(Message.size() + kCrLf.size());
  reply.append(Message).append(kCrLf);
  sendQueue_.push_back(std::move(reply));
  if (!writing_) WriteNext();
  return true;
}

void Session::WriteNext() {
  writing_ = true;
  asio::async_write(
      sckServer, asio::buffer(sendQueue_.front()),
      [self = shared_from_this()](const std::error_code& ec, std::size_t) { self->OnWritten(ec); });
}

void Session::OnWritten(const std::error_code& ec) {
  writing_ = false;
  if (ec == asio::error::operation_aborted) return;
  if (ec) {
    sendQueue_.clear();
    if (unloaded_ || lingering_) {
      CloseNow();
      return;
    }
    Log(5, "Connection lost, terminating socket " + std::to_string(iMyIndex));
    lState = Closing;
    Disconnect();
    TerminateSession();
    return;
  }
  sendQueue_.pop_front();
  if (!sendQueue_.empty()) {
    WriteNext();
  } else if (lingering_) {
    CloseNow();
  } else if (!unloaded_) {
    OnSendComplete();
  }
}

void Session::OnSendComplete() {
  if (lState == Closing) {
    Disconnect();
    TerminateSession();
  }
}

void Session::StartConnectionTimer() {
  tmrConTimeout.expires_after(timing_.tick);
  tmrConTimeout.async_wait([self = shared_from_this()](const std::error_code& ec) {
    if (ec || self->unloaded_) return;
    self->tmrConTimeout_Timer();
  });
}

// Every session ends ten ticks after it was accepted, whatever it is doing; client activity
// does not reset the count.
void Session::tmrConTimeout_Timer() {
  if (++iTickCount >= kConnectionTicks) {
    iTickCount = 0;
    lState = Closing;
    Disconnect();
    TerminateSession();
    return;
  }
  StartConnectionTimer();
}

// The inactivity timer is never started; a tick would only stop it and say so.
void Session::tmrDataTimeout_Timer() {
  tmrDataTimeout.cancel();
  Log(7, "Closing connection due to inactivity timeout on socket " + std::to_string(iMyIndex));
}

void Session::TerminateSession() {
  // Once unloaded the slot may already hold another session, which must not be removed.
  if (unloaded_) return;
  const auto keepAlive = shared_from_this();
  bTerminating = true;
  // Whatever the session had locked is released, also when nobody logged in.
  if (!bQuitReceived) SetSessionItemsStatus(true, 0);
  if (oEProxy) oEProxy->ProxKillServer(iMyIndex);
  Unload();
}

void Session::ReportInternalError(const Failure& failure) {
  const std::string text = ErrorLine(failure);
  try {
    if (!bTerminating) {
      lState = Closing;
      SendResponse("-ERR Internal server error occured. Closing transmission channel");
      Log(7, text);
      TerminateSession();
    } else {
      bTerminating = false;
    }
  } catch (...) {  // NOLINT(bugprone-empty-catch): nothing may escape the error path
  }
}

}  // namespace talvex
