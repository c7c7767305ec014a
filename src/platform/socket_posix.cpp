#include "platform/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace platform {

static_assert(kFamilyIPv4 == AF_INET);
static_assert(kAddressNone == INADDR_NONE);
static_assert(sizeof(SocketAddressV4) == sizeof(sockaddr_in));
static_assert(offsetof(SocketAddressV4, nFamily) == offsetof(sockaddr_in, sin_family));
static_assert(offsetof(SocketAddressV4, nPort) == offsetof(sockaddr_in, sin_port));
static_assert(offsetof(SocketAddressV4, nAddress) == offsetof(sockaddr_in, sin_addr));

SocketAddressV4 MakeSocketAddressV4(std::uint32_t nAddress, std::uint16_t nPortHostOrder) {
  SocketAddressV4 addr{};
  addr.nFamily = kFamilyIPv4;
  addr.nPort = htons(nPortHostOrder);
  addr.nAddress = nAddress;
  return addr;
}

std::int32_t SocketLastError() { return errno; }

SocketHandle SocketCreateStream() {
  return socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

bool SocketSetReuseAddress(SocketHandle s) {
  const int one = 1;
  return setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0;
}

int SocketConnect(SocketHandle s, const SocketAddressV4& addr) {
  sockaddr_in sin;
  std::memcpy(&sin, &addr, sizeof sin);
  if (connect(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0) return 0;
  // An interrupted connect goes on in the background, like one in progress.
  if (errno == EINPROGRESS || errno == EINTR) errno = kSocketWouldBlock;
  return -1;
}

std::int32_t SocketTakeError(SocketHandle s) {
  int error = 0;
  socklen_t len = sizeof error;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
  return error;
}

int SocketPoll(SocketHandle s, unsigned events, std::int32_t nTimeoutMs) {
  // poll skips a negative descriptor and would sit out the whole limit.
  if (s < 0) {
    errno = EBADF;
    return -1;
  }
  pollfd p{};
  p.fd = s;
  if (events & kPollRead) p.events |= POLLIN;
  if (events & kPollWrite) p.events |= POLLOUT;
  const int n = poll(&p, 1, nTimeoutMs < 0 ? -1 : nTimeoutMs);
  if (n < 0) return -1;
  if (n == 0) return 0;
  if (p.revents & POLLNVAL) {
    errno = EBADF;
    return -1;
  }
  unsigned ready = 0;
  if (p.revents & POLLIN) ready |= kPollRead;
  if (p.revents & POLLOUT) ready |= kPollWrite;
  if (p.revents & POLLERR) ready |= kPollError;
  if (p.revents & POLLHUP) ready |= kPollHangup;
  return static_cast<int>(ready);
}

std::int32_t SocketSend(SocketHandle s, const char* pData, std::int32_t nLength) {
  if (nLength < 0) {
    errno = EINVAL;
    return -1;
  }
  return static_cast<std::int32_t>(send(s, pData, static_cast<std::size_t>(nLength), MSG_NOSIGNAL));
}

std::int32_t SocketReceive(SocketHandle s, char* pFirst, std::int32_t nFirst, char* pSecond,
                           std::int32_t nSecond) {
  if (nFirst < 0 || nSecond < 0) {
    errno = EINVAL;
    return -1;
  }
  // MSG_DONTWAIT: never waits, even on a descriptor that blocks.
  if (nSecond == 0) return static_cast<std::int32_t>(recv(s, pFirst, static_cast<std::size_t>(nFirst), MSG_DONTWAIT));
  iovec parts[2] = {{pFirst, static_cast<std::size_t>(nFirst)},
                    {pSecond, static_cast<std::size_t>(nSecond)}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  return static_cast<std::int32_t>(recvmsg(s, &message, MSG_DONTWAIT));
}

void SocketShutdown(SocketHandle s, ShutdownHow how) {
  shutdown(s, how == ShutdownHow::kSend ? SHUT_WR : SHUT_RDWR);
}

void SocketClose(SocketHandle s) { close(s); }

std::uint32_t ParseAddressV4(const char* pszText) { return inet_addr(pszText); }

// Names under "invalid" never exist (RFC 6761, 6.4): answered at once,
// without asking any name server.
static bool IsInvalidName(std::string_view name) {
  const std::string lower = ToLower(name);
  std::string_view n = lower;
  if (!n.empty() && n.back() == '.') n.remove_suffix(1);
  return n == "invalid" || n.ends_with(".invalid");
}

std::uint32_t LookupAddressV4(const char* pszName) {
  if (pszName == nullptr || *pszName == '\0' || IsInvalidName(pszName)) return kAddressNone;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(pszName, nullptr, &hints, &list) != 0 || list == nullptr) return kAddressNone;
  std::uint32_t address = kAddressNone;
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
      sockaddr_in sin;
      std::memcpy(&sin, a->ai_addr, sizeof sin);
      address = sin.sin_addr.s_addr;
      break;
    }
  }
  freeaddrinfo(list);
  return address;
}

}  // namespace platform
