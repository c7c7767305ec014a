#include <winsock2.h>
#include <windows.h>

#include <algorithm>

#include "loopback_backend.h"

namespace loopback {

namespace {

// Winsock for the whole test program, started before main as the
// application starts it before its first socket.
const bool s_bWinsock = [] {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();

SOCKET Raw(Fd fd) { return static_cast<SOCKET>(fd); }

// Sockets are inheritable on Windows: programs that a test starts must
// not hold our connections open.
Fd Private(SOCKET s) {
  if (s == INVALID_SOCKET) return -1;
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<Fd>(s);
}

}  // namespace

namespace backend {

Fd Listen(std::uint32_t address, int backlog, std::uint16_t& port) {
  if (!s_bWinsock) return -1;
  const Fd fd = Private(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (fd < 0) return -1;
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = address;
  int len = sizeof sin;
  if (bind(Raw(fd), reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || listen(Raw(fd), backlog) != 0 ||
      getsockname(Raw(fd), reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
    closesocket(Raw(fd));
    return -1;
  }
  port = ntohs(sin.sin_port);
  return fd;
}

Fd Accept(Fd listener, int timeoutMs) {
  if (!WaitReadable(listener, timeoutMs)) return -1;
  return Private(accept(Raw(listener), nullptr, nullptr));
}

bool WaitReadable(Fd fd, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Raw(fd), &readable);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit) == 1;
}

long Receive(Fd fd, char* buffer, std::size_t size) {
  return recv(Raw(fd), buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
}

long Send(Fd fd, const char* data, std::size_t size) {
  return send(Raw(fd), data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
}

}  // namespace backend

void CloseSocket(Fd fd) { closesocket(Raw(fd)); }

void CloseWithReset(Fd fd) {
  linger l{1, 0};
  setsockopt(Raw(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  closesocket(Raw(fd));
}

void ShutdownSend(Fd fd) { shutdown(Raw(fd), SD_SEND); }

void SetSendTimeout(Fd fd, int timeoutMs) {
  const DWORD limit = static_cast<DWORD>(timeoutMs);
  setsockopt(Raw(fd), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}

}  // namespace loopback
