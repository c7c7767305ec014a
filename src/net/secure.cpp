#include "net/secure.h"

std::int32_t SecureChannel::Open(SOCKET s, const std::string& host, const std::string& caFile,
                                 std::int32_t nReceiveTimeoutMs, std::int32_t nSendTimeoutMs,
                                 std::unique_ptr<SecureChannel>& channel, std::string& why) {
  channel.reset();
  auto opened = std::unique_ptr<SecureChannel>(new SecureChannel);
  opened->m_transport.socket = s;
  opened->m_transport.receiveLimit = nReceiveTimeoutMs;
  opened->m_transport.sendLimit = nSendTimeoutMs;
  platform::TlsOutcome outcome = platform::TlsOutcome::kRefused;
  opened->m_tls = platform::TlsConnect(opened->m_transport, host, caFile, outcome, why);
  switch (outcome) {
    case platform::TlsOutcome::kOk:
      channel = std::move(opened);
      return SC_READY;
    case platform::TlsOutcome::kCut:
      return SC_TRANSIENT;
    default:
      return SC_REFUSED;
  }
}

bool SecureChannel::Send(const char* pData, std::int32_t n, std::int32_t nTimeoutMs) {
  m_transport.sendLimit = nTimeoutMs;
  return m_tls->Send(pData, n);
}

std::int32_t SecureChannel::Receive(char* pBuffer, std::int32_t nCapacity, std::int32_t nTimeoutMs) {
  m_transport.receiveLimit = nTimeoutMs;
  return m_tls->Receive(pBuffer, nCapacity);
}
