// TlsCredentials: the server's certificate chain and private key, read from PEM files into a
// TLS context that offers TLS 1.2 and 1.3 only, with OpenSSL's default cipher choice. New
// handshakes take the current context; a reload builds a new one and only replaces the old
// when it loaded in full, so a half-written or mismatched file never takes the service down,
// and sessions already running keep the context they started with.
#pragma once

#include <asio/ssl/context.hpp>
#include <memory>
#include <optional>
#include <string>

namespace talvex {

class TlsCredentials {
 public:
  // Raises Failure, saying which file and why, when the files do not make a usable context.
  TlsCredentials(std::string certificateFile, std::string keyFile);

  std::shared_ptr<asio::ssl::context> Context() const { return context_; }
  // Reads both files again: nothing when the new context took over, else why the old one stays.
  std::optional<std::string> Reload();

 private:
  std::shared_ptr<asio::ssl::context> Load() const;

  std::string certificateFile_;
  std::string keyFile_;
  std::shared_ptr<asio::ssl::context> context_;
};

// How a session uses TLS: on a connection of the implicit-TLS port it negotiates before the
// greeting; otherwise, with a context, it offers STLS.
struct SessionTls {
  std::shared_ptr<asio::ssl::context> context;  // none: TLS is not configured
  bool implicit = false;
  bool required = false;  // log-in commands are refused on a connection without TLS
};

}  // namespace talvex
