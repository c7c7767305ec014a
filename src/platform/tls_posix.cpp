// TLS with OpenSSL 3. The records go through a BIO of our own whose reads
// and writes are the caller's transport, so that every wait keeps its
// limits and nothing is copied on the way.
#include "platform/tls.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace platform {

namespace {

// What the BIO saw of the transport: a failure there, not a TLS fault.
struct Stream {
  TlsTransport* transport = nullptr;
  bool cut = false;
};

int StreamWrite(BIO* bio, const char* data, int n) {
  auto* stream = static_cast<Stream*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  if (stream->transport->Send(data, n)) return n;
  stream->cut = true;
  return -1;
}

int StreamRead(BIO* bio, char* buffer, int capacity) {
  auto* stream = static_cast<Stream*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const std::int32_t n = stream->transport->Receive(buffer, capacity);
  if (n > 0) return n;
  stream->cut = true;
  return n == 0 ? 0 : -1;
}

long StreamControl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int StreamCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* StreamMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "transport");
    BIO_meth_set_write(m, StreamWrite);
    BIO_meth_set_read(m, StreamRead);
    BIO_meth_set_ctrl(m, StreamControl);
    BIO_meth_set_create(m, StreamCreate);
    return m;
  }();
  return method;
}

std::string LastError() {
  const unsigned long code = ERR_peek_last_error();
  char text[256] = "TLS failure";
  if (code != 0) ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  return text;
}

class OpenSslConnection final : public TlsConnection {
 public:
  explicit OpenSslConnection(TlsTransport& transport) { m_stream.transport = &transport; }
  ~OpenSslConnection() override {
    if (m_ssl != nullptr) SSL_free(m_ssl);  // frees the BIO too
    if (m_context != nullptr) SSL_CTX_free(m_context);
  }
  OpenSslConnection(const OpenSslConnection&) = delete;
  OpenSslConnection& operator=(const OpenSslConnection&) = delete;

  TlsOutcome Handshake(const std::string& host, const std::string& caFile, std::string& why) {
    ERR_clear_error();
    m_context = SSL_CTX_new(TLS_client_method());
    if (m_context == nullptr || !SSL_CTX_set_min_proto_version(m_context, TLS1_2_VERSION)) {
      why = LastError();
      return TlsOutcome::kRefused;
    }
    // A bundle of the caller's replaces the store (SSL_CERT_FILE and
    // SSL_CERT_DIR name the store otherwise).
    const int trusted = caFile.empty() ? SSL_CTX_set_default_verify_paths(m_context)
                                       : SSL_CTX_load_verify_locations(m_context, caFile.c_str(), nullptr);
    if (trusted != 1) {
      why = "cannot read the trusted certificates: " + LastError();
      return TlsOutcome::kRefused;
    }
    SSL_CTX_set_verify(m_context, SSL_VERIFY_PEER, nullptr);
    // Whole records per receive, not a header and then its body.
    SSL_CTX_set_read_ahead(m_context, 1);
    m_ssl = SSL_new(m_context);
    BIO* bio = m_ssl != nullptr ? BIO_new(StreamMethod()) : nullptr;
    if (bio == nullptr) {
      why = LastError();
      return TlsOutcome::kRefused;
    }
    BIO_set_data(bio, &m_stream);
    SSL_set_bio(m_ssl, bio, bio);
    const bool address = !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
    // An address is checked against the certificate's addresses and is
    // never sent as a name (SNI carries names only).
    const bool named = address ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.c_str()) == 1
                               : SSL_set_tlsext_host_name(m_ssl, host.c_str()) == 1 && SSL_set1_host(m_ssl, host.c_str()) == 1;
    if (!named) {
      why = "cannot check the certificate for " + host;
      return TlsOutcome::kRefused;
    }
    SSL_set_hostflags(m_ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (SSL_connect(m_ssl) == 1) return TlsOutcome::kOk;
    const long verified = SSL_get_verify_result(m_ssl);
    if (verified != X509_V_OK) {
      why = std::string("certificate refused: ") + X509_verify_cert_error_string(verified);
      ERR_clear_error();
      return TlsOutcome::kRefused;
    }
    // Cut off or silent: as a connect that failed. Anything the peer said
    // (an alert, a protocol older than 1.2) would come again.
    if (m_stream.cut) {
      why = "connection lost during the TLS handshake";
      ERR_clear_error();
      return TlsOutcome::kCut;
    }
    why = LastError();
    return TlsOutcome::kRefused;
  }

  bool Send(const char* data, std::int32_t n) override {
    if (n <= 0) return true;
    ERR_clear_error();
    return SSL_write(m_ssl, data, n) == n;
  }

  std::int32_t Receive(char* buffer, std::int32_t capacity) override {
    ERR_clear_error();
    const int n = SSL_read(m_ssl, buffer, capacity);
    if (n > 0) return n;
    const int error = SSL_get_error(m_ssl, n);
    ERR_clear_error();
    return error == SSL_ERROR_ZERO_RETURN ? 0 : -1;
  }

 private:
  Stream m_stream;
  SSL_CTX* m_context = nullptr;
  SSL* m_ssl = nullptr;
};

}  // namespace

std::unique_ptr<TlsConnection> TlsConnect(TlsTransport& transport, const std::string& host,
                                          const std::string& caFile, TlsOutcome& outcome, std::string& why) {
  auto connection = std::make_unique<OpenSslConnection>(transport);
  why.clear();
  outcome = connection->Handshake(host, caFile, why);
  if (outcome != TlsOutcome::kOk) return nullptr;
  return connection;
}

bool TlsIsCertificateBundle(const std::string& file) {
  BIO* bio = BIO_new_file(file.c_str(), "r");
  if (bio == nullptr) {
    ERR_clear_error();
    return false;
  }
  X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  const bool found = certificate != nullptr;
  X509_free(certificate);
  BIO_free(bio);
  ERR_clear_error();
  return found;
}

}  // namespace platform
