#include "net/sock.h"

#include <algorithm>
#include <chrono>

#include "net/resolve.h"

using platform::kPollRead;
using platform::kPollWrite;

thread_local std::int32_t t_nSockError = 0;

// Why a wait ended without readiness. A limit that ran out leaves what the
// operation last reported (would-block): SOCK_ETIMEDOUT stays the kernel's
// word for a connection that timed out, which callers treat differently.
static std::int32_t WaitError(int ready) {
  return ready == 0 ? SOCK_EWOULDBLOCK : platform::SocketLastError();
}

int SockStartup() {
  const std::int32_t error = platform::SocketStartup();
  if (error != 0) {
    t_nSockError = error;
    return -1;
  }
  return 0;
}

SOCKET SockCreate() {
  const SOCKET s = platform::SocketCreateStream();
  if (s == INVALID_SOCKET) {
    t_nSockError = platform::SocketLastError();
    return INVALID_SOCKET;
  }
  if (!platform::SocketSetReuseAddress(s)) {
    t_nSockError = platform::SocketLastError();
    SockClose(s, TRUE);
    return INVALID_SOCKET;
  }
  return s;
}

void SockClose(SOCKET s, BOOL bImmediate) {
  if (bImmediate) {
    platform::SocketClose(s);
    return;
  }
  SockCloseGraceful(s, 4000);
}

void SockCloseGraceful(SOCKET s, std::int32_t nDrainLimitMs) {
  using Clock = std::chrono::steady_clock;
  platform::SocketShutdown(s, platform::ShutdownHow::kSend);
  // One limit for the whole drain: a peer that never stops sending must
  // not hold the close for ever.
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(nDrainLimitMs, 0));
  char scratch[256];
  for (;;) {
    std::int32_t wait = -1;
    if (nDrainLimitMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = static_cast<std::int32_t>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    }
    // Whatever the wait says, the receive tells: would-block ends the drain.
    platform::SocketPoll(s, kPollRead, wait);
    if (platform::SocketReceive(s, scratch, sizeof scratch) <= 0) break;
    if (nDrainLimitMs >= 0 && Clock::now() >= deadline) break;
  }
  platform::SocketShutdown(s, platform::ShutdownHow::kBoth);
  platform::SocketClose(s);
}

int SockConnect(SOCKET s, const SockAddrIn& addr, std::int32_t nTimeoutMs) {
  if (platform::SocketConnect(s, addr) == 0) return 0;
  std::int32_t error = platform::SocketLastError();
  if (error == SOCK_EWOULDBLOCK) {
    const int ready = platform::SocketPoll(s, kPollWrite, nTimeoutMs);
    if (ready <= 0) {
      t_nSockError = WaitError(ready);
      return -1;
    }
    error = platform::SocketTakeError(s);
    if (error == 0 && !(ready & kPollWrite)) error = platform::kSocketNotConnected;
    if (error == 0) return 0;
  }
  t_nSockError = error;
  return -1;
}

int SockConnectHost(SOCKET s, const char* pszHost, std::uint16_t nPort, std::int32_t nTimeoutMs,
                    BOOL bResolveInThread) {
  const std::uint32_t address = ResolveHost(pszHost, bResolveInThread);
  if (address == INADDR_NONE) {
    t_nSockError = SOCK_EHOSTNOTFOUND;
    return -1;
  }
  return SockConnect(s, platform::MakeSocketAddressV4(address, nPort), nTimeoutMs);
}

std::int32_t SockSend(SOCKET s, const char* pData, std::int32_t nLength, std::int32_t nTimeoutMs) {
  std::int32_t sent = 0;
  if (nLength <= 0) return 0;
  for (;;) {
    const std::int32_t n = platform::SocketSend(s, pData + sent, nLength - sent);
    if (n > 0) {
      sent += n;
      if (sent >= nLength) return sent;
      continue;
    }
    if (n < 0 && platform::SocketLastError() != SOCK_EWOULDBLOCK) {
      t_nSockError = platform::SocketLastError();
      return sent;
    }
    // No 100 ms pause after would-block: poll waits for real readiness, so retrying cannot spin.
    const int ready = platform::SocketPoll(s, kPollWrite, nTimeoutMs);
    if (ready <= 0) {
      t_nSockError = WaitError(ready);
      return sent;
    }
    if (!(ready & kPollWrite)) {
      const std::int32_t error = platform::SocketTakeError(s);
      t_nSockError = error != 0 ? error : platform::kSocketNotConnected;
      return sent;
    }
  }
}

std::int32_t SockRecv(SOCKET s, char* pBuffer, std::int32_t nCapacity, std::int32_t nTimeoutMs) {
  return SockRecvSegments(s, pBuffer, nCapacity, nullptr, 0, nTimeoutMs);
}

std::int32_t SockRecvSegments(SOCKET s, char* pFirst, std::int32_t nFirst, char* pSecond,
                              std::int32_t nSecond, std::int32_t nTimeoutMs) {
  for (;;) {
    // Receive first: while a body streams in, data is usually there
    // already, and a wait before every receive would double the calls.
    const std::int32_t n = platform::SocketReceive(s, pFirst, nFirst, pSecond, nSecond);
    if (n >= 0) return n;
    if (platform::SocketLastError() != SOCK_EWOULDBLOCK) {
      t_nSockError = platform::SocketLastError();
      return -1;
    }
    // Nothing yet: the wait has the whole limit. No 100 ms pause after it,
    // since poll waits for real readiness and retrying cannot spin.
    const int ready = platform::SocketPoll(s, kPollRead, nTimeoutMs);
    if (ready <= 0) {
      t_nSockError = WaitError(ready);
      return -1;
    }
  }
}
