// MetricsEndpoint: the server's metrics over HTTP for a scraper, at GET /metrics on one
// address, and the probe that measures how late the event loop runs. Each request is one small
// exchange that owns its socket and buffer and closes after the answer, so a scraper that
// stalls holds only its own connection, for a few seconds at most.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <memory>

#include "platform/metrics.hpp"

namespace talvex {

class MetricsEndpoint {
 public:
  // Listens on `endpoint` at once; raises std::system_error when it cannot.
  MetricsEndpoint(asio::io_context& io, std::shared_ptr<Metrics> metrics,
                  const asio::ip::tcp::endpoint& endpoint);

  std::uint16_t Port() const { return acceptor_.local_endpoint().port(); }

 private:
  void Accept();
  void Probe();

  std::shared_ptr<Metrics> metrics_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer probe_;
};

}  // namespace talvex
