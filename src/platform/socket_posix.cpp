#include "platform/socket_system.h"

#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <limits>

namespace platform {

// Nothing to start, and sends never raise SIGPIPE (MSG_NOSIGNAL).
std::int32_t SocketStartup() { return 0; }

std::int32_t SocketLastError() { return errno; }

// A handle beyond an int's range is no descriptor: -1 fails as EBADF.
static int Fd(SocketHandle s) {
  return s >= 0 && s <= std::numeric_limits<int>::max() ? static_cast<int>(s) : -1;
}

SocketHandle SocketCreateStream() {
  return socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

bool SocketSetReuseAddress(SocketHandle s) {
  const int one = 1;
  return setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0;
}

int SocketConnect(SocketHandle s, const SocketAddressV4& addr) {
  sockaddr_in sin;
  std::memcpy(&sin, &addr, sizeof sin);
  if (connect(Fd(s), reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0) return 0;
  // An interrupted connect goes on in the background, like one in progress.
  if (errno == EINPROGRESS || errno == EINTR) errno = kSocketWouldBlock;
  return -1;
}

std::int32_t SocketTakeError(SocketHandle s) {
  int error = 0;
  socklen_t len = sizeof error;
  if (getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &error, &len) != 0) return errno;
  return error;
}

int SocketPoll(SocketHandle s, unsigned events, std::int32_t nTimeoutMs) {
  // poll skips a negative descriptor and would sit out the whole limit.
  pollfd p{};
  p.fd = Fd(s);
  if (p.fd < 0) {
    errno = EBADF;
    return -1;
  }
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
  return static_cast<std::int32_t>(send(Fd(s), pData, static_cast<std::size_t>(nLength), MSG_NOSIGNAL));
}

std::int32_t SocketReceive(SocketHandle s, char* pFirst, std::int32_t nFirst, char* pSecond,
                           std::int32_t nSecond) {
  if (nFirst < 0 || nSecond < 0) {
    errno = EINVAL;
    return -1;
  }
  // MSG_DONTWAIT: never waits, even on a descriptor that blocks.
  if (nSecond == 0) return static_cast<std::int32_t>(recv(Fd(s), pFirst, static_cast<std::size_t>(nFirst), MSG_DONTWAIT));
  iovec parts[2] = {{pFirst, static_cast<std::size_t>(nFirst)},
                    {pSecond, static_cast<std::size_t>(nSecond)}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  return static_cast<std::int32_t>(recvmsg(Fd(s), &message, MSG_DONTWAIT));
}

void SocketShutdown(SocketHandle s, ShutdownHow how) {
  shutdown(Fd(s), how == ShutdownHow::kSend ? SHUT_WR : SHUT_RDWR);
}

void SocketClose(SocketHandle s) { close(Fd(s)); }

}  // namespace platform
