// The HTTP side of the metrics: one request per connection, answered and closed.
#include "host/metrics_endpoint.hpp"

#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <string>
#include <string_view>

namespace talvex {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMaxRequest = 8192;
constexpr auto kExchangeLimit = 5s;
constexpr auto kProbeInterval = 100ms;
constexpr std::string_view kContentType =
    "application/openmetrics-text; version=1.0.0; charset=utf-8";

std::string Response(std::string_view status, std::string_view type, const std::string& body) {
  return "HTTP/1.1 " + std::string(status) + "\r\nContent-Type: " + std::string(type) +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         body;
}

// The answer to a request's first line: the metrics for GET /metrics, an error otherwise.
std::string Answer(std::string_view requestLine, const Metrics& metrics) {
  const std::size_t method = requestLine.find(' ');
  const std::size_t target = requestLine.find(' ', method + 1);
  if (method == std::string_view::npos || target == std::string_view::npos) {
    return Response("400 Bad Request", "text/plain", "bad request\n");
  }
  if (requestLine.substr(0, method) != "GET") {
    return Response("405 Method Not Allowed", "text/plain", "only GET\n");
  }
  const std::string_view path = requestLine.substr(method + 1, target - method - 1);
  if (path != "/metrics" && !path.starts_with("/metrics?")) {
    return Response("404 Not Found", "text/plain", "the metrics are at /metrics\n");
  }
  return Response("200 OK", kContentType, metrics.Exposition());
}

class Exchange : public std::enable_shared_from_this<Exchange> {
 public:
  Exchange(asio::ip::tcp::socket socket, std::shared_ptr<Metrics> metrics)
      : socket_(std::move(socket)),
        metrics_(std::move(metrics)),
        request_(kMaxRequest),
        limit_(socket_.get_executor()) {}

  void Start() {
    limit_.expires_after(kExchangeLimit);
    limit_.async_wait([self = shared_from_this()](const std::error_code& ec) {
      if (!ec) self->Close();
    });
    asio::async_read_until(socket_, request_, "\r\n\r\n",
                           [self = shared_from_this()](const std::error_code& ec, std::size_t) {
                             self->OnRequest(ec);
                           });
  }

 private:
  void OnRequest(const std::error_code& ec) {
    if (ec) return Close();
    const auto data = request_.data();
    const std::string_view text(static_cast<const char*>(data.data()), data.size());
    answer_ = Answer(text.substr(0, text.find("\r\n")), *metrics_);
    asio::async_write(
        socket_, asio::buffer(answer_),
        [self = shared_from_this()](const std::error_code&, std::size_t) { self->Close(); });
  }

  void Close() {
    std::error_code ignored;
    socket_.close(ignored);
    limit_.cancel();
  }

  asio::ip::tcp::socket socket_;
  std::shared_ptr<Metrics> metrics_;
  asio::streambuf request_;
  std::string answer_;
  asio::steady_timer limit_;
};

}  // namespace

MetricsEndpoint::MetricsEndpoint(asio::io_context& io, std::shared_ptr<Metrics> metrics,
                                 const asio::ip::tcp::endpoint& endpoint)
    : metrics_(std::move(metrics)), acceptor_(io, endpoint), probe_(io) {
  Accept();
  Probe();
}

void MetricsEndpoint::Accept() {
  acceptor_.async_accept([this](const std::error_code& ec, asio::ip::tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    if (!ec) std::make_shared<Exchange>(std::move(socket), metrics_)->Start();
    Accept();
  });
}

// A timer due every interval: how late its handler runs is how long the loop was busy with
// something else.
void MetricsEndpoint::Probe() {
  const auto due = std::chrono::steady_clock::now() + kProbeInterval;
  probe_.expires_at(due);
  probe_.async_wait([this, due](const std::error_code& ec) {
    if (ec) return;
    metrics_->LoopLag(std::chrono::steady_clock::now() - due);
    Probe();
  });
}

}  // namespace talvex
