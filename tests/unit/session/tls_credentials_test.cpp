// The certificate and key behind TLS: what a start with bad files says, and that a reload only
// ever replaces a working context with another working one.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/failure.hpp"
#include "session/tls_credentials.hpp"
#include "temp_dir.hpp"

namespace talvex {
namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;
using FilePtr = std::unique_ptr<FILE, decltype(&std::fclose)>;

// A self-signed certificate and its key, made in memory.
struct Identity {
  explicit Identity(const std::string& name) {
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* subject = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), subject);
    X509_sign(cert.get(), key.get(), EVP_sha256());
  }

  void Write(const std::string& certFile, const std::string& keyFile) const {
    const FilePtr certOut(std::fopen(certFile.c_str(), "w"), &std::fclose);
    const FilePtr keyOut(std::fopen(keyFile.c_str(), "w"), &std::fclose);
    ASSERT_TRUE(certOut && keyOut);
    ASSERT_EQ(PEM_write_X509(certOut.get(), cert.get()), 1);
    ASSERT_EQ(PEM_write_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr),
              1);
  }

  KeyPtr key{EVP_EC_gen("P-256"), &EVP_PKEY_free};
  CertPtr cert{X509_new(), &X509_free};
};

// The certificate a context would present.
X509* Presented(const TlsCredentials& credentials) {
  return SSL_CTX_get0_certificate(credentials.Context()->native_handle());
}

class Credentials : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  const std::string cert_ = (dir_.Path() / "server.crt").string();
  const std::string key_ = (dir_.Path() / "server.key").string();
  Identity first_{"first"};
  Identity second_{"second"};
};

TEST_F(Credentials, StartFailsNamingTheFileAndWhy) {
  first_.Write(cert_, key_);
  const std::string missing = (dir_.Path() / "missing.pem").string();
  const auto reason = [](const std::string& cert, const std::string& key) {
    try {
      TlsCredentials credentials(cert, key);
    } catch (const Failure& failure) {
      return failure.Description();
    }
    return std::string("loaded");
  };
  EXPECT_NE(reason(missing, key_).find("certificate " + missing), std::string::npos);
  EXPECT_NE(reason(cert_, missing).find("key " + missing), std::string::npos);
  // A key that does not match its certificate is refused by the load that a reload makes too
  // (below).
  EXPECT_EQ(reason(cert_, key_), "loaded");
}

// A reload that works, and one of a garbled key, are proven end to end (e2e_tls, Reload).
TEST_F(Credentials, FailedReloadKeepsTheWorkingContext) {
  first_.Write(cert_, key_);
  TlsCredentials credentials(cert_, key_);
  const auto working = credentials.Context();
  // Whatever the system's OpenSSL configuration allows, nothing older than TLS 1.2.
  EXPECT_EQ(SSL_CTX_get_min_proto_version(working->native_handle()), TLS1_2_VERSION);

  // A new certificate whose key has not been replaced yet.
  const std::string stray = (dir_.Path() / "stray.key").string();
  second_.Write(cert_, stray);
  first_.Write((dir_.Path() / "unused.crt").string(), key_);
  const auto mismatched = credentials.Reload();
  ASSERT_TRUE(mismatched.has_value());
  EXPECT_NE(mismatched->find("match"), std::string::npos);
  EXPECT_EQ(credentials.Context(), working);

  std::remove(cert_.c_str());
  EXPECT_TRUE(credentials.Reload().has_value());
  EXPECT_EQ(credentials.Context(), working);
  EXPECT_EQ(X509_cmp(Presented(credentials), first_.cert.get()), 0);
}

}  // namespace
}  // namespace talvex
