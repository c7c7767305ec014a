// The peers' system calls on POSIX.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "loopback.h"

namespace loopback {

const std::int32_t kRefused = ECONNREFUSED;
const std::int32_t kReset = ECONNRESET;
const std::int32_t kNotASocket = EBADF;

bool ResetMayReadAsEnd() { return false; }

bool IsBrokenConnection(std::int32_t code) { return code == EPIPE || code == ECONNRESET; }

void ExpectBrokenPipeSignalUntouched() {
  // Under the default disposition SIGPIPE ends the test program.
  struct sigaction current {};
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
  ASSERT_EQ(current.sa_handler, SIG_DFL);
}

static int Fd(PeerSocket fd) { return static_cast<int>(fd); }

Listener::Listener(int backlog, const char* address) {
  m_address = inet_addr(address);
  if ((ntohl(m_address) >> 24) != 127) throw std::runtime_error("not a loopback address");
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = m_address;
  socklen_t len = sizeof sin;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
    close(fd);
    throw std::runtime_error("listen");
  }
  m_fd = fd;
  m_port = ntohs(sin.sin_port);
}

void Listener::Close() {
  if (m_fd != kNoPeer) close(Fd(m_fd));
  m_fd = kNoPeer;
}

PeerSocket Listener::Accept(int timeoutMs) {
  if (!WaitReadable(m_fd, timeoutMs)) return kNoPeer;
  const int fd = accept4(Fd(m_fd), nullptr, nullptr, SOCK_CLOEXEC);
  return fd < 0 ? kNoPeer : fd;
}

bool SendAll(PeerSocket fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(Fd(fd), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WaitReadable(PeerSocket fd, int timeoutMs) {
  pollfd p{Fd(fd), POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1;
}

long ReceiveSome(PeerSocket fd, char* buffer, std::size_t size) { return recv(Fd(fd), buffer, size, 0); }

void ClosePeer(PeerSocket fd) { close(Fd(fd)); }

void CloseWithReset(PeerSocket fd) {
  linger l{1, 0};
  setsockopt(Fd(fd), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(Fd(fd));
}

void ShutdownSend(PeerSocket fd) { shutdown(Fd(fd), SHUT_WR); }

void SetSendTimeout(PeerSocket fd, int timeoutMs) {
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(Fd(fd), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

SocketFacts Facts(PeerSocket fd) {
  SocketFacts facts;
  const int flags = fcntl(Fd(fd), F_GETFD);
  if (flags == -1) return facts;
  facts.bOpen = true;
  facts.bInherited = !(flags & FD_CLOEXEC);
  int value = 0;
  socklen_t len = sizeof value;
  facts.bReuseAddress = getsockopt(Fd(fd), SOL_SOCKET, SO_REUSEADDR, &value, &len) == 0 && value == 1;
  len = sizeof value;
  facts.bStream = getsockopt(Fd(fd), SOL_SOCKET, SO_TYPE, &value, &len) == 0 && value == SOCK_STREAM;
  return facts;
}

}  // namespace loopback
