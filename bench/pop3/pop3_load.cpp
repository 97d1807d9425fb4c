// pop3-load: a load generator for talvex-pop3d. One thread, many concurrent clients driven by
// coroutines, so the generator itself stays cheap next to the server it measures.
//
//   pop3-load connect --port N [--clients C] [--seconds S]
//       each client connects, reads the greeting and closes, over and over; prints the
//       number of connections greeted and closed per second.
//   pop3-load idle --port N --sessions K [--hold-seconds S]
//       opens K sessions, waits for every greeting, prints "ready", holds them S seconds.
#include <CLI/CLI.hpp>
#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

using asio::awaitable;
using asio::use_awaitable;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

struct Counters {
  std::uint64_t greeted = 0;
  std::uint64_t failed = 0;
};

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
  CLI11_PARSE(app, argc, argv);

  asio::io_context io;
  const tcp::endpoint server(asio::ip::make_address("127.0.0.1"), port);
  Counters counters;
  const auto start = Clock::now();
  if (connect->parsed()) {
    const auto until = start + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(seconds));
    for (int i = 0; i < clients; ++i) asio::co_spawn(io, ConnectLoop(server, until, counters), asio::detached);
    io.run();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("connections greeted and closed: %llu in %.2f s = %.0f per second (%llu failed)\n",
                static_cast<unsigned long long>(counters.greeted), elapsed,
                static_cast<double>(counters.greeted) / elapsed,
                static_cast<unsigned long long>(counters.failed));
    return counters.failed == 0 ? 0 : 1;
  }
  std::vector<tcp::socket> sockets;
  sockets.reserve(static_cast<std::size_t>(sessions));
  for (int i = 0; i < sessions; ++i) asio::co_spawn(io, OpenIdle(server, sockets, counters), asio::detached);
  io.run();
  io.restart();
  std::printf("ready: %llu sessions greeted (%llu failed) in %.2f s\n",
              static_cast<unsigned long long>(counters.greeted),
              static_cast<unsigned long long>(counters.failed),
              std::chrono::duration<double>(Clock::now() - start).count());
  std::fflush(stdout);
  asio::steady_timer timer(io, std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(hold)));
  timer.wait();
  return counters.failed == 0 ? 0 : 1;
}
