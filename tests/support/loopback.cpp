// Test support: server thread and blocking client.
#include "loopback.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio/post.hpp>
#include <atomic>
#include <future>
#include <stdexcept>

namespace talvex::testing {

ServerThread::ServerThread(SessionTiming timing) {
  env_.dataDir = dir_.Path();
  server_ = std::make_unique<POP3Server>(io_, env_, timing);
  server_->EventLog([this](const std::string& dateTime, std::int32_t messageType,
                           const std::string& source, const std::string& message) {
    const std::lock_guard lock(mutex_);
    lines_.push_back({dateTime, messageType, source, message});
  });
}

ServerThread::~ServerThread() {
  if (thread_.joinable()) {
    Run([this] { server_->StopListening(); });
    work_.reset();
    io_.stop();
    thread_.join();
  }
  server_->EventLog(nullptr);
  server_.reset();
}

bool ServerThread::Start(std::int16_t maxConnections, std::int16_t loggingMode, std::int32_t port) {
  server_->MaxConnections(maxConnections);
  server_->LoggingMode(loggingMode);
  const bool started = server_->StartListening(port);
  port_ = server_->BoundPort();
  work_.emplace(io_.get_executor());
  thread_ = std::thread([this] { io_.run(); });
  return started;
}

void ServerThread::Run(const std::function<void()>& fn) {
  if (!thread_.joinable()) {
    fn();
    return;
  }
  std::promise<void> done;
  asio::post(io_, [&] {
    fn();
    done.set_value();
  });
  done.get_future().wait();
}

std::vector<LogLine> ServerThread::Lines() const {
  const std::lock_guard lock(mutex_);
  return lines_;
}

std::vector<std::string> ServerThread::Messages() const {
  std::vector<std::string> out;
  for (const auto& line : Lines()) out.push_back(line.Message);
  return out;
}

std::size_t ServerThread::CountMessage(const std::string& message) const {
  std::size_t n = 0;
  for (const auto& line : Lines()) n += line.Message == message ? 1 : 0;
  return n;
}

bool ServerThread::WaitForMessage(const std::string& message,
                                  std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (CountMessage(message) > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

Client::Client(std::uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd_ < 0) throw std::runtime_error("socket failed");
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd_);
    throw std::runtime_error("connect failed");
  }
}

Client::~Client() {
  Close();
}

void Client::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Client::Abort() {
  const linger reset{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  Close();
}

void Client::Send(std::string_view bytes) const {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("send failed");
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string Client::ReadUntil(std::string_view terminator, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (const auto at = pending_.find(terminator); at != std::string::npos) {
      std::string out = pending_.substr(0, at + terminator.size());
      pending_.erase(0, at + terminator.size());
      return out;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd pfd{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
  return std::exchange(pending_, std::string());
}

bool Client::Silent(std::chrono::milliseconds timeout) {
  pollfd pfd{fd_, POLLIN, 0};
  return pending_.empty() && ::poll(&pfd, 1, static_cast<int>(timeout.count())) == 0;
}

bool Client::WaitClosed(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd pfd{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[65536];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace talvex::testing
