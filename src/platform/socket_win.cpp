// Winsock 2.2: non-blocking sockets, waits by select, reasons from
// WSAGetLastError().
#include <cstring>

#include "platform/socket_system.h"

namespace platform {

static_assert(kNoSocket == static_cast<SocketHandle>(INVALID_SOCKET));
static_assert(kSocketWouldBlock == WSAEWOULDBLOCK);
static_assert(kSocketTimedOut == WSAETIMEDOUT);
static_assert(kSocketNotConnected == WSAENOTCONN);
static_assert(kSocketHostNotFound == WSAHOST_NOT_FOUND);

static SOCKET Native(SocketHandle s) { return static_cast<SOCKET>(s); }

std::int32_t SocketStartup() {
  WSADATA data;
  std::memset(&data, 0, sizeof data);
  const int rc = WSAStartup(MAKEWORD(2, 2), &data);
  if (rc != 0) return rc;
  if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
    WSACleanup();
    return WSAVERNOTSUPPORTED;
  }
  return 0;
}

std::int32_t SocketLastError() { return WSAGetLastError(); }

SocketHandle SocketCreateStream() {
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
    // Older than Windows 7 SP1, which knows no such flag: cleared afterwards.
    s = WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (s != INVALID_SOCKET) SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  }
  if (s == INVALID_SOCKET) return kNoSocket;
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    const int error = WSAGetLastError();
    closesocket(s);
    WSASetLastError(error);
    return kNoSocket;
  }
  return static_cast<SocketHandle>(s);
}

bool SocketSetReuseAddress(SocketHandle s) {
  const int one = 1;
  return setsockopt(Native(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one) == 0;
}

int SocketConnect(SocketHandle s, const SocketAddressV4& addr) {
  sockaddr_in sin;
  std::memcpy(&sin, &addr, sizeof sin);
  if (connect(Native(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0) return 0;
  // A non-blocking connect under way says WSAEWOULDBLOCK already.
  return -1;
}

std::int32_t SocketTakeError(SocketHandle s) {
  int error = 0;
  int len = sizeof error;
  if (getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) return WSAGetLastError();
  return error;
}

int SocketPoll(SocketHandle s, unsigned events, std::int32_t nTimeoutMs) {
  // The socket is in the exception set whatever was asked: that is where
  // select puts a connect that failed, as poll reports POLLERR unasked.
  fd_set readable, writable, failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  if (events & kPollRead) FD_SET(Native(s), &readable);
  if (events & kPollWrite) FD_SET(Native(s), &writable);
  FD_SET(Native(s), &failed);
  timeval limit{};
  limit.tv_sec = nTimeoutMs / 1000;
  limit.tv_usec = (nTimeoutMs % 1000) * 1000;
  // The first argument is ignored by Winsock.
  const int n = select(0, &readable, &writable, &failed, nTimeoutMs < 0 ? nullptr : &limit);
  if (n == SOCKET_ERROR) return -1;
  if (n == 0) return 0;
  unsigned ready = 0;
  if (FD_ISSET(Native(s), &readable)) ready |= kPollRead;
  if (FD_ISSET(Native(s), &writable)) ready |= kPollWrite;
  if (FD_ISSET(Native(s), &failed)) ready |= kPollError;
  return static_cast<int>(ready);
}

std::int32_t SocketSend(SocketHandle s, const char* pData, std::int32_t nLength) {
  if (nLength < 0) {
    WSASetLastError(WSAEINVAL);
    return -1;
  }
  const int n = send(Native(s), pData, nLength, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

std::int32_t SocketReceive(SocketHandle s, char* pFirst, std::int32_t nFirst, char* pSecond,
                           std::int32_t nSecond) {
  if (nFirst < 0 || nSecond < 0) {
    WSASetLastError(WSAEINVAL);
    return -1;
  }
  if (nSecond == 0) {
    const int n = recv(Native(s), pFirst, nFirst, 0);
    return n == SOCKET_ERROR ? -1 : n;
  }
  WSABUF parts[2];
  parts[0].len = static_cast<ULONG>(nFirst);
  parts[0].buf = pFirst;
  parts[1].len = static_cast<ULONG>(nSecond);
  parts[1].buf = pSecond;
  DWORD received = 0;
  DWORD flags = 0;
  if (WSARecv(Native(s), parts, 2, &received, &flags, nullptr, nullptr) != 0) return -1;
  return static_cast<std::int32_t>(received);
}

void SocketShutdown(SocketHandle s, ShutdownHow how) {
  shutdown(Native(s), how == ShutdownHow::kSend ? SD_SEND : SD_BOTH);
}

void SocketClose(SocketHandle s) { closesocket(Native(s)); }

}  // namespace platform
