// Transport: the byte stream under a session. It owns the accepted TCP socket and, once TLS has
// been negotiated on it (at once on the implicit-TLS port, or after STLS on the plain one), the
// TLS stream over that socket together with the context it was made from, so that a reload of
// the server's certificate never pulls the context from under a running session. Reads and
// writes go through the TLS stream when there is one and straight to the socket otherwise.
#pragma once

#include <sys/socket.h>
#include <asio/any_io_executor.hpp>
#include <asio/async_result.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>
#include <asio/ssl/error.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace talvex {

class Transport {
  // The send flag that lets the kernel hold a segment back for more data or the close.
  static constexpr asio::socket_base::message_flags kMoreToCome = MSG_MORE;

 public:
  // NOLINTBEGIN(readability-identifier-naming): the names Asio's stream operations look for
  using executor_type = asio::any_io_executor;
  // Told how the handshake ended: no error, the peer's or OpenSSL's error, or timed_out.
  using HandshakeDone = std::function<void(const std::error_code&)>;

  explicit Transport(const executor_type& executor)
      : socket_(executor), handshakeTimer_(executor) {}
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  executor_type get_executor() { return socket_.get_executor(); }
  // NOLINTEND(readability-identifier-naming)
  asio::ip::tcp::socket& Socket() { return socket_; }
  const asio::ip::tcp::socket& Socket() const { return socket_; }
  bool IsOpen() const { return socket_.is_open(); }
  // TLS has been negotiated, or is being negotiated, on this connection.
  bool Secure() const { return tls_.has_value(); }

  // Negotiates TLS as the server. A peer that has not finished within `limit` is cut off and
  // `done` hears timed_out. Each pending handler holds what `keepAlive` holds, so that the
  // transport's owner outlives them. Nothing else may read or write meanwhile.
  void StartTls(std::shared_ptr<asio::ssl::context> context, std::chrono::milliseconds limit,
                const std::shared_ptr<void>& keepAlive, HandshakeDone done);

  // The negotiated protocol and cipher, e.g. "TLSv1.3 TLS_AES_256_GCM_SHA384", for the log.
  std::string TlsDescription();

  // Stops reading and writing and releases the socket; a peer that has reset the connection
  // does not make it fail.
  void Close();
  // What is written from now on is the connection's last: on a plain socket the kernel may hold
  // it back for Close, whose end of the stream then leaves in the same segment, one packet fewer
  // for each end of every session. Close must follow once the writes are done.
  void WritingLast() { writingLast_ = true; }

  // TLS has been negotiated and the socket is open.
  bool Negotiated();
  // Says the end of the negotiated TLS stream (the close_notify alert), so that the peer can
  // tell it from a cut, without waiting for the peer's own alert; nothing else may be written
  // meanwhile. `done` hears when the alert has left or could not; closing the socket is left to
  // it. The pending handler holds what `keepAlive` holds.
  void EndStream(const std::shared_ptr<void>& keepAlive, std::function<void()> done);

  // NOLINTBEGIN(readability-identifier-naming)
  template <class Buffers, class Token>
  auto async_read_some(const Buffers& buffers, Token&& token) {
    return asio::async_initiate<Token, void(std::error_code, std::size_t)>(
        [this](auto handler, const Buffers& target) {
          if (!tls_) {
            socket_.async_read_some(target, std::move(handler));
            return;
          }
          // Most clients just close the connection at the end instead of closing TLS first;
          // that is the end of the stream, not a failure.
          tls_->async_read_some(
              target, [handler = std::move(handler)](std::error_code ec, std::size_t n) mutable {
                if (ec == asio::ssl::error::stream_truncated) ec = asio::error::eof;
                std::move(handler)(ec, n);
              });
        },
        token, buffers);
  }

  template <class Buffers, class Token>
  auto async_write_some(const Buffers& buffers, Token&& token) {
    return asio::async_initiate<Token, void(std::error_code, std::size_t)>(
        [this](auto handler, const Buffers& source) {
          if (tls_) {
            tls_->async_write_some(source, std::move(handler));
          } else if (writingLast_) {
            socket_.async_send(source, kMoreToCome, std::move(handler));
          } else {
            socket_.async_write_some(source, std::move(handler));
          }
        },
        token, buffers);
  }
  // NOLINTEND(readability-identifier-naming)

 private:
  asio::ip::tcp::socket socket_;
  // The context first: the stream refers to it.
  std::shared_ptr<asio::ssl::context> context_;
  std::optional<asio::ssl::stream<asio::ip::tcp::socket&>> tls_;
  asio::steady_timer handshakeTimer_;
  bool handshakeTimedOut_ = false;
  bool writingLast_ = false;
};

}  // namespace talvex
