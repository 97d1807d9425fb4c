// Loading the certificate and key into a server context.
#include "session/tls_credentials.hpp"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <system_error>
#include <utility>

#include "platform/failure.hpp"

namespace talvex {

namespace {

constexpr const char* kSource = "TLS";

Failure LoadFailure(const std::string& what, const std::string& reason) {
  ERR_clear_error();  // the reason has been taken; nothing is left for the next handshake
  return Failure(kSource, ErrorNumber::kInvalidProperty, what + ": " + reason);
}

}  // namespace

TlsCredentials::TlsCredentials(std::string certificateFile, std::string keyFile)
    : certificateFile_(std::move(certificateFile)),
      keyFile_(std::move(keyFile)),
      context_(Load()) {}

std::optional<std::string> TlsCredentials::Reload() {
  try {
    context_ = Load();
    return std::nullopt;
  } catch (const Failure& failure) {
    return failure.Description();
  }
}

std::shared_ptr<asio::ssl::context> TlsCredentials::Load() const {
  auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
  SSL_CTX* native = context->native_handle();
  // Older protocols are off for good; renegotiation is a denial-of-service lever and no POP3
  // client needs it.
  SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
  SSL_CTX_set_options(native, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  std::error_code ec;
  context->use_certificate_chain_file(certificateFile_, ec);
  if (ec) throw LoadFailure("certificate " + certificateFile_, ec.message());
  context->use_private_key_file(keyFile_, asio::ssl::context::pem, ec);
  if (ec) throw LoadFailure("key " + keyFile_, ec.message());
  if (SSL_CTX_check_private_key(native) != 1) {
    throw LoadFailure("key " + keyFile_, "does not match certificate " + certificateFile_);
  }
  return context;
}

}  // namespace talvex
