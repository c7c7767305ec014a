#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "loopback_backend.h"

namespace loopback {

namespace backend {

Fd Listen(std::uint32_t address, int backlog, std::uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = address;
  socklen_t len = sizeof sin;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(sin.sin_port);
  return fd;
}

Fd Accept(Fd listener, int timeoutMs) {
  if (!WaitReadable(listener, timeoutMs)) return -1;
  return accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
}

bool WaitReadable(Fd fd, int timeoutMs) {
  pollfd p{static_cast<int>(fd), POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1;
}

long Receive(Fd fd, char* buffer, std::size_t size) { return recv(static_cast<int>(fd), buffer, size, 0); }

long Send(Fd fd, const char* data, std::size_t size) {
  return send(static_cast<int>(fd), data, size, MSG_NOSIGNAL);
}

}  // namespace backend

void CloseSocket(Fd fd) { close(static_cast<int>(fd)); }

void CloseWithReset(Fd fd) {
  linger l{1, 0};
  setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(static_cast<int>(fd));
}

void ShutdownSend(Fd fd) { shutdown(static_cast<int>(fd), SHUT_WR); }

void SetSendTimeout(Fd fd, int timeoutMs) {
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace loopback
