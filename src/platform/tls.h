// TLS for a client connection, with the system's own TLS stack: OpenSSL on
// Linux, Schannel on Windows. The caller moves the bytes: every read and
// write of the encrypted stream goes through its TlsTransport, whose waits
// keep the caller's time limits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// The encrypted stream: blocking calls, each within the caller's limit.
class TlsTransport {
 public:
  virtual ~TlsTransport() = default;
  // Sends all n bytes; false when they could not all go out.
  virtual bool Send(const char* data, std::int32_t n) = 0;
  // One receive: bytes (at most capacity), 0 when the peer closed, -1 on
  // failure or when the limit passed.
  virtual std::int32_t Receive(char* buffer, std::int32_t capacity) = 0;
};

enum class TlsOutcome {
  kOk,
  kCut,      // the transport failed or timed out, or the peer closed: worth a retry
  kRefused,  // the certificate, the name or the protocol: never worth a retry
};

class TlsConnection {
 public:
  virtual ~TlsConnection() = default;
  // Encrypts and sends all n bytes; false when they could not all go out.
  virtual bool Send(const char* data, std::int32_t n) = 0;
  // Decrypted bytes (at most capacity); 0 after the peer's close notice;
  // -1 when the stream failed, timed out or ended without a close notice.
  virtual std::int32_t Receive(char* buffer, std::int32_t capacity) = 0;
};

// Runs the handshake for host (TLS 1.2 or later, the name sent as SNI) over
// transport, which must outlive the connection, and checks the server's
// certificate chain against the system's trust store, or against the PEM
// bundle caFile when it is not empty, and the certificate against host (a
// name or an IP address). Null unless outcome is kOk; why says what failed.
std::unique_ptr<TlsConnection> TlsConnect(TlsTransport& transport, const std::string& host,
                                          const std::string& caFile, TlsOutcome& outcome, std::string& why);

// True when file can be read and holds at least one PEM certificate.
bool TlsIsCertificateBundle(const std::string& file);

}  // namespace platform
