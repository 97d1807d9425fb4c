// delay-proxy: a TCP proxy in front of a database's Unix socket that holds every
// client-to-server chunk for a fixed delay before passing it on, so that each query's round
// trip takes that much longer: a database far away on the network, seen from the front-end.
// Chunks keep their order and are delayed independently, so a connection that sends while an
// earlier chunk waits is not held up twice. One thread and no per-chunk copies beyond the read
// buffer, so the proxy costs little CPU next to the server it delays.
//
//   delay-proxy LISTEN_PORT SOCKET_PATH DELAY_MS
#include <asio.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace {

using asio::awaitable;
using asio::use_awaitable;
using asio::ip::tcp;
using Local = asio::local::stream_protocol;
using Clock = std::chrono::steady_clock;

struct Chunk {
  Clock::time_point due;
  std::vector<char> data;  // empty: the client closed its side
};

// The chunks read from the client, waiting for their time; `ready` wakes the forwarder.
struct DelayLine {
  explicit DelayLine(const asio::any_io_executor& executor) : ready(executor) {}
  std::deque<Chunk> chunks;
  asio::steady_timer ready;
};

awaitable<void> ReadClient(tcp::socket& client, DelayLine& line, Clock::duration delay) {
  std::vector<char> buffer(65536);
  for (;;) {
    asio::error_code error;
    const std::size_t n = co_await client.async_read_some(
        asio::buffer(buffer), asio::redirect_error(use_awaitable, error));
    if (error) break;
    line.chunks.push_back(
        Chunk{Clock::now() + delay,
              std::vector<char>(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n))});
    line.ready.cancel();
  }
  line.chunks.push_back(Chunk{Clock::now(), {}});
  line.ready.cancel();
}

awaitable<void> ForwardDelayed(DelayLine& line, Local::socket& server) {
  for (;;) {
    if (line.chunks.empty()) {
      line.ready.expires_at(Clock::time_point::max());
      asio::error_code woken;  // cancelled: a chunk arrived
      co_await line.ready.async_wait(asio::redirect_error(use_awaitable, woken));
      continue;
    }
    Chunk& next = line.chunks.front();
    if (next.data.empty()) break;
    if (next.due > Clock::now()) {
      asio::steady_timer wait(co_await asio::this_coro::executor, next.due);
      co_await wait.async_wait(use_awaitable);
    }
    // The front chunk is still the same one: only the back of the line grows meanwhile.
    asio::error_code error;
    co_await asio::async_write(server, asio::buffer(line.chunks.front().data),
                               asio::redirect_error(use_awaitable, error));
    if (error) break;
    line.chunks.pop_front();
  }
  asio::error_code ignored;
  server.shutdown(Local::socket::shutdown_send, ignored);
}

awaitable<void> Pump(Local::socket& server, tcp::socket& client) {
  std::vector<char> buffer(65536);
  for (;;) {
    asio::error_code error;
    const std::size_t n = co_await server.async_read_some(
        asio::buffer(buffer), asio::redirect_error(use_awaitable, error));
    if (error) break;
    co_await asio::async_write(client, asio::buffer(buffer, n),
                               asio::redirect_error(use_awaitable, error));
    if (error) break;
  }
  asio::error_code ignored;
  client.shutdown(tcp::socket::shutdown_send, ignored);
}

awaitable<void> Serve(tcp::socket client, std::string socketPath, Clock::duration delay) {
  auto executor = co_await asio::this_coro::executor;
  Local::socket server(executor);
  asio::error_code error;
  co_await server.async_connect(Local::endpoint(socketPath),
                                asio::redirect_error(use_awaitable, error));
  if (error) co_return;
  DelayLine line(executor);
  using namespace asio::experimental::awaitable_operators;
  co_await (ReadClient(client, line, delay) && ForwardDelayed(line, server) &&
            Pump(server, client));
}

awaitable<void> Listen(std::uint16_t port, std::string socketPath, Clock::duration delay) {
  auto executor = co_await asio::this_coro::executor;
  tcp::acceptor acceptor(executor, {asio::ip::make_address("127.0.0.1"), port});
  for (;;) {
    tcp::socket client = co_await acceptor.async_accept(use_awaitable);
    client.set_option(tcp::no_delay(true));
    asio::co_spawn(executor, Serve(std::move(client), socketPath, delay), asio::detached);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: delay-proxy LISTEN_PORT SOCKET_PATH DELAY_MS\n");
    return 2;
  }
  try {
    asio::io_context io;
    const auto port = static_cast<std::uint16_t>(std::stoi(argv[1]));
    const std::chrono::milliseconds delay(std::stoi(argv[3]));
    asio::co_spawn(io, Listen(port, argv[2], delay), [](const std::exception_ptr& error) {
      if (error) std::rethrow_exception(error);
    });
    io.run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "delay-proxy: %s\n", e.what());
    return 1;
  }
}
