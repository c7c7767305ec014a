#include "socket_pair.h"

#include <winsock2.h>

#include <algorithm>

#include "fuzz_check.h"

namespace {

SOCKET Raw(platform::SocketHandle s) { return static_cast<SOCKET>(s); }

}  // namespace

SocketPair::SocketPair() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  FUZZ_CHECK(started);
  // Windows has no socket pair: a connection on loopback, accepted at once.
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  FUZZ_CHECK(listener != INVALID_SOCKET);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  FUZZ_CHECK(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
  FUZZ_CHECK(listen(listener, 1) == 0);
  FUZZ_CHECK(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
  const SOCKET ours = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  FUZZ_CHECK(ours != INVALID_SOCKET);
  FUZZ_CHECK(connect(ours, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
  const SOCKET theirs = accept(listener, nullptr, nullptr);
  FUZZ_CHECK(theirs != INVALID_SOCKET);
  closesocket(listener);
  // Both ends non-blocking: ours as SockCreate makes every socket (a
  // blocking one would hold a receive of Winsock's past its limit).
  u_long nonBlocking = 1;
  ioctlsocket(ours, FIONBIO, &nonBlocking);
  ioctlsocket(theirs, FIONBIO, &nonBlocking);
  m_ours = static_cast<platform::SocketHandle>(ours);
  m_theirs = static_cast<platform::SocketHandle>(theirs);
}

SocketPair::~SocketPair() {
  closesocket(Raw(m_ours));
  Close();
}

void SocketPair::Close() {
  if (!closed()) closesocket(Raw(m_theirs));
  m_theirs = platform::kNoSocket;
}

long SocketPair::SendSome(const char* data, std::size_t size) {
  return send(Raw(m_theirs), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
}

void SocketPair::EndSending() { shutdown(Raw(m_theirs), SD_SEND); }
