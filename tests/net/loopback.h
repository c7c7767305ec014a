// Peers on 127.0.0.1 that a test runs itself, written with plain system
// calls so that they do not share code with what they test.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "net/sock.h"

namespace loopback {

// A listening socket on 127.0.0.1, port chosen by the system.
class Listener {
 public:
  explicit Listener(int backlog = 16);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  std::uint16_t port() const { return m_port; }
  SockAddrIn address() const;
  // A blocking connection of the peer's side, or -1 when none came in time.
  int Accept(int timeoutMs = 5000);
  void Close();

 private:
  int m_fd = -1;
  std::uint16_t m_port = 0;
};

// Our socket, connected through SockConnect, and the peer's accepted end.
struct Connection {
  SOCKET ours = INVALID_SOCKET;
  int peer = -1;
};
Connection Connect(Listener& listener);
void CloseConnection(Connection& c);

// Writes everything on a blocking socket; false when the peer went away.
bool SendAll(int fd, const std::string& bytes);
// Reads until end of stream or the limit; what came.
std::string ReadToEnd(int fd, int timeoutMs = 5000);
// Closes so that the other side gets a reset instead of an end of stream.
void CloseWithReset(int fd);

std::uint32_t Ipv4(unsigned a, unsigned b, unsigned c, unsigned d);

using Clock = std::chrono::steady_clock;
inline long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace loopback
