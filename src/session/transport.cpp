// The TLS handshake under its time limit, the end of the TLS stream, and the close.
#include "session/transport.hpp"

#include <openssl/ssl.h>

namespace talvex {

void Transport::StartTls(std::shared_ptr<asio::ssl::context> context,
                         std::chrono::milliseconds limit, const std::shared_ptr<void>& keepAlive,
                         HandshakeDone done) {
  context_ = std::move(context);
  tls_.emplace(socket_, *context_);
  handshakeTimedOut_ = false;
  handshakeTimer_.expires_after(limit);
  // Closing the socket is what ends a handshake that is stuck waiting for the peer.
  handshakeTimer_.async_wait([this, keepAlive](const std::error_code& ec) {
    if (ec) return;
    handshakeTimedOut_ = true;
    std::error_code ignored;
    socket_.close(ignored);
  });
  tls_->async_handshake(asio::ssl::stream_base::server,
                        [this, keepAlive, done = std::move(done)](const std::error_code& ec) {
                          handshakeTimer_.cancel();
                          done(handshakeTimedOut_ ? std::error_code(asio::error::timed_out) : ec);
                        });
}

std::string Transport::TlsDescription() {
  if (!tls_) return "none";
  SSL* ssl = tls_->native_handle();
  return std::string(SSL_get_version(ssl)) + " " + SSL_get_cipher_name(ssl);
}

// A handshake cut off by its time limit closed the socket, whatever OpenSSL got to.
bool Transport::Negotiated() {
  return tls_ && socket_.is_open() && SSL_is_init_finished(tls_->native_handle()) == 1;
}

void Transport::EndStream(const std::shared_ptr<void>& keepAlive, std::function<void()> done) {
  // As if the peer's alert had come: the shutdown then ends once ours is written, instead of
  // waiting for a reply that most clients never send.
  SSL_set_shutdown(tls_->native_handle(), SSL_RECEIVED_SHUTDOWN);
  tls_->async_shutdown(
      [keepAlive, done = std::move(done)](const std::error_code& /*ec*/) { done(); });
}

void Transport::Close() {
  std::error_code ignored;  // closing a socket the peer has reset still releases it
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
}

}  // namespace talvex
