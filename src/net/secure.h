// TLS over one connected socket, each wait within the caller's limit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/sock.h"
#include "platform/tls.h"

// Results of SecureChannel::Open.
constexpr std::int32_t SC_READY = 0;
constexpr std::int32_t SC_TRANSIENT = 1;  // cut off or timed out during the handshake
constexpr std::int32_t SC_REFUSED = 2;    // certificate, name or protocol refused

class SecureChannel {
 public:
  // The handshake with host over s (which stays the caller's): every
  // receive within nReceiveTimeoutMs, every send within nSendTimeoutMs.
  // caFile: a PEM bundle trusted instead of the system's store, or empty.
  static std::int32_t Open(SOCKET s, const std::string& host, const std::string& caFile,
                           std::int32_t nReceiveTimeoutMs, std::int32_t nSendTimeoutMs,
                           std::unique_ptr<SecureChannel>& channel, std::string& why);
  // All n bytes, or false.
  bool Send(const char* pData, std::int32_t n, std::int32_t nTimeoutMs);
  // Decrypted bytes; 0 after the peer's close notice; -1 on failure, when
  // the limit passed, or at an end without close notice.
  std::int32_t Receive(char* pBuffer, std::int32_t nCapacity, std::int32_t nTimeoutMs);

 private:
  class Transport final : public platform::TlsTransport {
   public:
    SOCKET socket = INVALID_SOCKET;
    std::int32_t receiveLimit = -1;
    std::int32_t sendLimit = -1;
    bool Send(const char* data, std::int32_t n) override { return SockSend(socket, data, n, sendLimit) == n; }
    std::int32_t Receive(char* buffer, std::int32_t capacity) override {
      return SockRecv(socket, buffer, capacity, receiveLimit);
    }
  };
  Transport m_transport;
  std::unique_ptr<platform::TlsConnection> m_tls;
};
