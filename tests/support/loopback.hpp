// Test support: a POP3Server running on its own thread on a loopback port, the log lines it
// raised, and a blocking TCP client with time-outs to talk to it.
#pragma once

#include <asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/pop3_server.hpp"
#include "temp_dir.hpp"

namespace talvex::testing {

struct LogLine {
  std::string DateTime;
  std::int32_t MessageType;
  std::string Source;
  std::string Message;
};

// Owns an io_context thread and one POP3Server on it. Configure through `Setup` (runs before
// the thread starts), then talk to BoundPort() from the test thread.
class ServerThread {
 public:
  explicit ServerThread(SessionTiming timing = {});
  ~ServerThread();
  ServerThread(const ServerThread&) = delete;
  ServerThread& operator=(const ServerThread&) = delete;

  POP3Server& Server() { return *server_; }
  const Environment& Env() const { return env_; }
  // Starts listening (port 0: an ephemeral one) and runs the event loop; returns
  // StartListening's result.
  bool Start(std::int16_t maxConnections, std::int16_t loggingMode = 2, std::int32_t port = 0);
  // Runs `fn` on the server's thread and waits for it.
  void Run(const std::function<void()>& fn);
  std::uint16_t Port() const { return port_; }

  std::vector<LogLine> Lines() const;
  std::vector<std::string> Messages() const;
  // Waits until a log line with this message has been raised; false on time-out.
  bool WaitForMessage(const std::string& message,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  std::size_t CountMessage(const std::string& message) const;

 private:
  TempDir dir_;
  Environment env_;
  asio::io_context io_;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
  std::unique_ptr<POP3Server> server_;
  std::thread thread_;
  std::uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::vector<LogLine> lines_;
};

// A blocking loopback TCP client.
class Client {
 public:
  explicit Client(std::uint16_t port);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void Send(std::string_view bytes) const;
  // Reads until `terminator` has been received (returned with it) or the time-out passes
  // (returns what arrived, possibly nothing).
  std::string ReadUntil(std::string_view terminator,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));
  std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return ReadUntil("\r\n", timeout);
  }
  // True when nothing arrives within the time-out and the connection is still open.
  bool Silent(std::chrono::milliseconds timeout);
  // True when the server closed the connection within the time-out (pending data is read
  // and discarded).
  bool WaitClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  void Close();
  // Drops the connection with a reset, as a crashed client does.
  void Abort();

 private:
  int fd_ = -1;
  std::string pending_;
};

}  // namespace talvex::testing
