// The peers' system calls on Windows (Winsock).
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "loopback.h"

namespace loopback {

const std::int32_t kRefused = WSAECONNREFUSED;
const std::int32_t kReset = WSAECONNRESET;
const std::int32_t kNotASocket = WSAENOTSOCK;

bool ResetMayReadAsEnd() {
  // Wine's ntdll exports its version; Windows' does not.
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool IsBrokenConnection(std::int32_t code) {
  return code == WSAECONNRESET || code == WSAECONNABORTED || code == WSAESHUTDOWN;
}

// Windows has no SIGPIPE.
void ExpectBrokenPipeSignalUntouched() {}

static SOCKET Native(PeerSocket fd) { return static_cast<SOCKET>(fd); }

Listener::Listener(int backlog, const char* address) {
  // Counted by the system: the peers need no start-up of their own elsewhere.
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup");
  m_address = inet_addr(address);
  if ((ntohl(m_address) >> 24) != 127) throw std::runtime_error("not a loopback address");
  const SOCKET fd = WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (fd == INVALID_SOCKET) throw std::runtime_error("socket");
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = m_address;
  int len = sizeof sin;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
    closesocket(fd);
    throw std::runtime_error("listen");
  }
  m_fd = static_cast<PeerSocket>(fd);
  m_port = ntohs(sin.sin_port);
}

void Listener::Close() {
  if (m_fd != kNoPeer) {
    closesocket(Native(m_fd));
    WSACleanup();
  }
  m_fd = kNoPeer;
}

PeerSocket Listener::Accept(int timeoutMs) {
  if (!WaitReadable(m_fd, timeoutMs)) return kNoPeer;
  const SOCKET fd = accept(Native(m_fd), nullptr, nullptr);
  return fd == INVALID_SOCKET ? kNoPeer : static_cast<PeerSocket>(fd);
}

bool SendAll(PeerSocket fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    const int n = send(Native(fd), bytes.data() + done, chunk, 0);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WaitReadable(PeerSocket fd, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(fd), &readable);
  timeval limit{};
  limit.tv_sec = timeoutMs / 1000;
  limit.tv_usec = (timeoutMs % 1000) * 1000;
  return select(0, &readable, nullptr, nullptr, &limit) == 1;
}

long ReceiveSome(PeerSocket fd, char* buffer, std::size_t size) {
  const int n = recv(Native(fd), buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

void ClosePeer(PeerSocket fd) { closesocket(Native(fd)); }

void CloseWithReset(PeerSocket fd) {
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  setsockopt(Native(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  closesocket(Native(fd));
}

void ShutdownSend(PeerSocket fd) { shutdown(Native(fd), SD_SEND); }

void SetSendTimeout(PeerSocket fd, int timeoutMs) {
  const DWORD limit = static_cast<DWORD>(timeoutMs);
  setsockopt(Native(fd), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}

SocketFacts Facts(PeerSocket fd) {
  SocketFacts facts;
  int value = 0;
  int len = sizeof value;
  if (getsockopt(Native(fd), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&value), &len) != 0) return facts;
  facts.bOpen = true;
  facts.bStream = value == SOCK_STREAM;
  DWORD flags = 0;
  facts.bInherited = GetHandleInformation(reinterpret_cast<HANDLE>(Native(fd)), &flags) && (flags & HANDLE_FLAG_INHERIT);
  value = 0;
  len = sizeof value;
  facts.bReuseAddress = getsockopt(Native(fd), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&value), &len) == 0 && value != 0;
  return facts;
}

}  // namespace loopback
