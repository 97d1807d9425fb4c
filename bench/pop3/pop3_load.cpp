// pop3-load: a load generator for talvex-pop3d. One thread, many concurrent clients driven by
// coroutines (and one more thread for the NOOP probe), so the generator itself stays cheap next to
// the server it measures.
//
//   pop3-load connect --port N [--clients C] [--seconds S]
//       each client connects, reads the greeting and closes, over and over; prints the
//       number of connections greeted and closed per second.
//   pop3-load idle --port N --sessions K [--hold-seconds S]
//       opens K sessions, waits for every greeting, prints "ready", holds them S seconds.
//   pop3-load login --port N --users U --password P [--clients C] [--seconds S]
//       log-in, STAT, QUIT cycles over users user1..userU; prints sessions per second.
//   pop3-load download --port N --users U --password P [--clients C]
//       every user's whole drop once (log-in, STAT, RETR of each message, QUIT), users shared
//       out among the clients; prints messages and MiB per second. With --noop-probe USER one
//       more session logs in as USER and sends NOOP every 10 ms while the downloads run;
//       prints the median, the 99th percentile and the worst NOOP round trip.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using asio::awaitable;
using asio::use_awaitable;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

struct Counters {
  std::uint64_t greeted = 0;
  std::uint64_t failed = 0;
  std::uint64_t sessions = 0;
  std::uint64_t messages = 0;
  std::uint64_t octets = 0;
};

// One POP3 conversation over a connected socket.
class Conversation {
 public:
  explicit Conversation(tcp::socket socket) : socket_(std::move(socket)) {}

  awaitable<std::string> Reply(std::string_view terminator = "\r\n") {
    const std::size_t n = co_await asio::async_read_until(socket_, asio::dynamic_buffer(buffer_),
                                                          terminator, use_awaitable);
    std::string reply = buffer_.substr(0, n);
    buffer_.erase(0, n);
    if (!reply.starts_with("+OK") && terminator == "\r\n") {
      throw std::runtime_error("refused: " + reply);
    }
    co_return reply;
  }
  awaitable<std::string> Command(const std::string& line, std::string_view terminator = "\r\n") {
    co_await asio::async_write(socket_, asio::buffer(line + "\r\n"), use_awaitable);
    co_return co_await Reply(terminator);
  }

 private:
  tcp::socket socket_;
  std::string buffer_;
};

// Logs in, STATs and, when `download` is set, retrieves every message; then quits.
awaitable<void> Pop3Session(tcp::endpoint server, std::string user, std::string password,
                            bool download, Counters& counters) {
  tcp::socket socket(co_await asio::this_coro::executor);
  co_await socket.async_connect(server, use_awaitable);
  Conversation pop3(std::move(socket));
  co_await pop3.Reply();
  co_await pop3.Command("USER " + user);
  co_await pop3.Command("PASS " + password);
  const std::string stat = co_await pop3.Command("STAT");
  const long count = std::strtol(stat.c_str() + 4, nullptr, 10);
  if (download) {
    for (long n = 1; n <= count; ++n) {
      const std::string status = co_await pop3.Command("RETR " + std::to_string(n));
      if (!status.starts_with("+OK")) throw std::runtime_error("RETR refused: " + status);
      const std::string message = co_await pop3.Reply("\r\n.\r\n");
      ++counters.messages;
      counters.octets += message.size();
    }
  }
  co_await pop3.Command("QUIT");
  ++counters.sessions;
}

awaitable<void> LoginLoop(tcp::endpoint server, int users, int first, int step,
                          std::string password, Clock::time_point until, Counters& counters) {
  for (int i = first; Clock::now() < until; i = (i + step) % users) {
    try {
      co_await Pop3Session(server, "user" + std::to_string(i + 1), password, false, counters);
    } catch (const std::exception&) {
      ++counters.failed;
    }
  }
}

awaitable<void> DownloadLoop(tcp::endpoint server, int& nextUser, int users, std::string password,
                             Counters& counters) {
  while (nextUser < users) {
    const int user = ++nextUser;
    try {
      co_await Pop3Session(server, "user" + std::to_string(user), password, true, counters);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "user%d: %s\n", user, e.what());
      ++counters.failed;
    }
  }
}

// The NOOP round trips of a logged-in session that has nothing else to do, while `running`
// download loops are still at work: what an idle client notices of the server's load. The
// probe has a thread of its own, so that the time it measures is the server's and not that of
// the generator's own loop, busy with the downloads' replies.
struct Probe {
  std::vector<double> millis;
  std::atomic<int> running = 0;
};

awaitable<void> NoopProbe(tcp::endpoint server, std::string user, std::string password,
                          Probe& probe) {
  auto executor = co_await asio::this_coro::executor;
  tcp::socket socket(executor);
  co_await socket.async_connect(server, use_awaitable);
  Conversation pop3(std::move(socket));
  co_await pop3.Reply();
  co_await pop3.Command("USER " + user);
  co_await pop3.Command("PASS " + password);
  // The session reads its drop after the log-in; a first NOOP waits for that, so the timing
  // starts with the second, when the session is idle.
  co_await pop3.Command("NOOP");
  asio::steady_timer pause(executor);
  while (probe.running > 0) {
    const auto sent = Clock::now();
    co_await pop3.Command("NOOP");
    probe.millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    pause.expires_after(std::chrono::milliseconds(10));
    co_await pause.async_wait(use_awaitable);
  }
  co_await pop3.Command("QUIT");
}

awaitable<void> ProbedDownloadLoop(tcp::endpoint server, int& nextUser, int users,
                                   std::string password, Counters& counters, Probe& probe) {
  co_await DownloadLoop(server, nextUser, users, password, counters);
  --probe.running;
}

awaitable<void> ReadGreeting(tcp::socket& socket) {
  std::string buffer;
  co_await asio::async_read_until(socket, asio::dynamic_buffer(buffer), "\r\n", use_awaitable);
  if (!buffer.starts_with("+OK")) throw std::runtime_error("unexpected greeting: " + buffer);
}

awaitable<void> ConnectLoop(tcp::endpoint server, Clock::time_point until, Counters& counters) {
  auto executor = co_await asio::this_coro::executor;
  while (Clock::now() < until) {
    try {
      tcp::socket socket(executor);
      co_await socket.async_connect(server, use_awaitable);
      co_await ReadGreeting(socket);
      socket.shutdown(tcp::socket::shutdown_both);
      socket.close();
      ++counters.greeted;
    } catch (const std::exception&) {
      ++counters.failed;
    }
  }
}

awaitable<void> OpenIdle(tcp::endpoint server, std::vector<tcp::socket>& sockets,
                         Counters& counters) {
  auto executor = co_await asio::this_coro::executor;
  tcp::socket socket(executor);
  try {
    co_await socket.async_connect(server, use_awaitable);
    co_await ReadGreeting(socket);
    sockets.push_back(std::move(socket));
    ++counters.greeted;
  } catch (const std::exception&) {
    ++counters.failed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"POP3 load generator for talvex-pop3d"};
  app.require_subcommand(1);
  std::uint16_t port = 1100;
  int clients = 8;
  double seconds = 5;
  int sessions = 1000;
  double hold = 5;
  app.add_option("--port", port)->required();
  auto* connect = app.add_subcommand("connect", "connect, read the greeting, close; repeat");
  connect->add_option("--clients", clients)->capture_default_str();
  connect->add_option("--seconds", seconds)->capture_default_str();
  auto* idle = app.add_subcommand("idle", "hold many greeted sessions open");
  idle->add_option("--sessions", sessions)->capture_default_str();
  idle->add_option("--hold-seconds", hold)->capture_default_str();
  int users = 100;
  std::string password = "secret";
  auto* login = app.add_subcommand("login", "log-in, STAT, QUIT; repeat");
  auto* download = app.add_subcommand("download", "fetch every user's whole drop once");
  for (auto* sub : {login, download}) {
    sub->add_option("--users", users)->capture_default_str();
    sub->add_option("--password", password)->capture_default_str();
    sub->add_option("--clients", clients)->capture_default_str();
  }
  std::string probeUser;
  download->add_option("--noop-probe", probeUser, "log in as this user and time NOOPs meanwhile");
  login->add_option("--seconds", seconds)->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  asio::io_context io;
  const tcp::endpoint server(asio::ip::make_address("127.0.0.1"), port);
  Counters counters;
  const auto start = Clock::now();
  if (connect->parsed()) {
    const auto until =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (int i = 0; i < clients; ++i)
      asio::co_spawn(io, ConnectLoop(server, until, counters), asio::detached);
    io.run();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("connections greeted and closed: %llu in %.2f s = %.0f per second (%llu failed)\n",
                static_cast<unsigned long long>(counters.greeted), elapsed,
                static_cast<double>(counters.greeted) / elapsed,
                static_cast<unsigned long long>(counters.failed));
    return counters.failed == 0 ? 0 : 1;
  }
  const auto elapsedSince = [&] {
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  if (login->parsed()) {
    const auto until =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (int i = 0; i < clients; ++i) {
      asio::co_spawn(io, LoginLoop(server, users, i, clients, password, until, counters),
                     asio::detached);
    }
    io.run();
    const double elapsed = elapsedSince();
    std::printf(
        "log-in/STAT/QUIT sessions with %d clients: %llu in %.2f s = %.0f per second "
        "(%llu failed)\n",
        clients, static_cast<unsigned long long>(counters.sessions), elapsed,
        static_cast<double>(counters.sessions) / elapsed,
        static_cast<unsigned long long>(counters.failed));
    return counters.failed == 0 ? 0 : 1;
  }
  if (download->parsed()) {
    int nextUser = 0;
    Probe probe;
    probe.running = clients;
    bool probeFailed = false;
    asio::io_context probeIo;
    if (!probeUser.empty()) {
      asio::co_spawn(probeIo, NoopProbe(server, probeUser, password, probe),
                     [&](std::exception_ptr error) { probeFailed = error != nullptr; });
    }
    std::thread probeThread([&] { probeIo.run(); });
    for (int i = 0; i < clients; ++i) {
      asio::co_spawn(io, ProbedDownloadLoop(server, nextUser, users, password, counters, probe),
                     asio::detached);
    }
    io.run();
    const double elapsed = elapsedSince();
    probeThread.join();
    if (!probeUser.empty()) {
      std::sort(probe.millis.begin(), probe.millis.end());
      const double median = probe.millis.empty() ? 0 : probe.millis[probe.millis.size() / 2];
      const double p99 = probe.millis.empty() ? 0 : probe.millis[probe.millis.size() * 99 / 100];
      const double worst = probe.millis.empty() ? 0 : probe.millis.back();
      std::printf(
          "idle session NOOP during the run: %zu round trips, median %.2f ms, 99th "
          "percentile %.2f ms, max %.2f ms%s\n",
          probe.millis.size(), median, p99, worst, probeFailed ? " (probe failed)" : "");
    }
    std::printf(
        "full-drop downloads with %d clients: %llu drops, %llu messages, %.1f MiB in "
        "%.2f s = %.0f messages/s, %.1f MiB/s (%llu failed)\n",
        clients, static_cast<unsigned long long>(counters.sessions),
        static_cast<unsigned long long>(counters.messages),
        static_cast<double>(counters.octets) / (1 << 20), elapsed,
        static_cast<double>(counters.messages) / elapsed,
        static_cast<double>(counters.octets) / (1 << 20) / elapsed,
        static_cast<unsigned long long>(counters.failed));
    return counters.failed == 0 ? 0 : 1;
  }
  std::vector<tcp::socket> sockets;
  sockets.reserve(static_cast<std::size_t>(sessions));
  for (int i = 0; i < sessions; ++i)
    asio::co_spawn(io, OpenIdle(server, sockets, counters), asio::detached);
  io.run();
  io.restart();
  std::printf("ready: %llu sessions greeted (%llu failed) in %.2f s\n",
              static_cast<unsigned long long>(counters.greeted),
              static_cast<unsigned long long>(counters.failed),
              std::chrono::duration<double>(Clock::now() - start).count());
  std::fflush(stdout);
  asio::steady_timer timer(
      io, std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(hold)));
  timer.wait();
  return counters.failed == 0 ? 0 : 1;
}
