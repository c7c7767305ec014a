// Peers on 127.0.0.1 that a test runs itself, written with plain system
// calls (loopback_posix.cpp, loopback_win.cpp) so that they do not share
// code with what they test. Their sockets block.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/sock.h"

namespace loopback {

// A socket of the peer's side (a descriptor, or a Winsock SOCKET); -1: none.
using Fd = std::intptr_t;

// A listening socket on a loopback address, port chosen by the system.
class Listener {
 public:
  explicit Listener(int backlog = 16, const char* address = "127.0.0.1");
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  std::uint16_t port() const { return m_port; }
  SockAddrIn address() const;
  // A blocking connection of the peer's side, or -1 when none came in time.
  Fd Accept(int timeoutMs = 5000);
  void Close();

 private:
  Fd m_fd = -1;
  std::uint16_t m_port = 0;
  std::uint32_t m_address = 0;
};

// Our socket, connected through SockConnect, and the peer's accepted end.
struct Connection {
  SOCKET ours = INVALID_SOCKET;
  Fd peer = -1;
};
Connection Connect(Listener& listener);
void CloseConnection(Connection& c);

// Writes everything; false when the peer went away (never a signal).
bool SendAll(Fd fd, const std::string& bytes);
// Reads until end of stream or the limit; what came.
std::string ReadToEnd(Fd fd, int timeoutMs = 5000);
void CloseSocket(Fd fd);
// Closes so that the other side gets a reset instead of an end of stream.
void CloseWithReset(Fd fd);
// Ends the sending side: the other side reads the end of the stream.
void ShutdownSend(Fd fd);
// A send that cannot go on for this long fails instead of blocking.
void SetSendTimeout(Fd fd, int timeoutMs);

// Reads until the empty line that ends a request header (kept), or the limit.
std::string ReadRequestHeader(Fd fd, int timeoutMs = 5000);
// Reads exactly n bytes; fewer when the peer closed or the limit passed.
std::string ReadExactly(Fd fd, std::size_t n, int timeoutMs = 5000);

// Serves each connection accepted on its listener with handler(fd, index),
// one after the other on a thread of its own, and closes it afterwards.
// Handlers must bound their own waits; destruction stops the accepting.
class ScriptedServer {
 public:
  using Handler = std::function<void(Fd fd, int index)>;
  explicit ScriptedServer(Handler handler, const char* address = "127.0.0.1");
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;
  std::uint16_t port() const { return m_listener.port(); }
  // Connections accepted so far.
  int connections() const { return m_accepted.load(); }

 private:
  Listener m_listener;
  Handler m_handler;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_accepted{0};
  std::thread m_thread;
};

// Answers the request of the i-th connection with answers[i] (the last one
// for every later connection) and keeps the request headers.
class Responder {
 public:
  explicit Responder(std::vector<std::string> answers, const char* address = "127.0.0.1");
  std::uint16_t port() const { return m_server.port(); }
  int connections() const { return m_server.connections(); }
  // http://address:port + path
  std::string Url(const std::string& path) const;
  // The i-th request header; empty when it has not come.
  std::string Request(std::size_t i) const;

 private:
  std::string m_address;
  std::vector<std::string> m_answers;
  mutable std::mutex m_lock;
  std::vector<std::string> m_requests;
  ScriptedServer m_server;
};

std::uint32_t Ipv4(unsigned a, unsigned b, unsigned c, unsigned d);

using Clock = std::chrono::steady_clock;
inline long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace loopback
