// Peers on 127.0.0.1 that a test runs itself, written with plain system
// calls (loopback_posix.cpp, loopback_win.cpp) so that they do not share
// code with what they test.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace loopback {

// The peer's sockets: descriptors, or Windows SOCKETs; -1 is none.
using PeerSocket = platform::SocketHandle;
constexpr PeerSocket kNoPeer = -1;

// A listening socket on a loopback address, port chosen by the system.
class Listener {
 public:
  explicit Listener(int backlog = 16, const char* address = "127.0.0.1");
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  std::uint16_t port() const { return m_port; }
  platform::SocketAddressV4 address() const;
  // A blocking connection of the peer's side, or kNoPeer when none came in time.
  PeerSocket Accept(int timeoutMs = 5000);
  void Close();

 private:
  PeerSocket m_fd = kNoPeer;
  std::uint16_t m_port = 0;
  std::uint32_t m_address = 0;
};

// A listener that never accepts, its queue filled up (through SockConnect):
// a connect to it stays pending until its limit. Throws when the queue
// never fills.
class FullListener {
 public:
  FullListener();
  ~FullListener();
  FullListener(const FullListener&) = delete;
  FullListener& operator=(const FullListener&) = delete;
  std::uint16_t port() const { return m_listener.port(); }
  platform::SocketAddressV4 address() const { return m_listener.address(); }

 private:
  Listener m_listener{0};
  std::vector<platform::SocketHandle> m_queued;
};

// Our socket, connected through SockConnect, and the peer's accepted end.
struct Connection {
  platform::SocketHandle ours = platform::kNoSocket;
  PeerSocket peer = kNoPeer;
};
Connection Connect(Listener& listener);
void CloseConnection(Connection& c);

// Writes everything on a blocking socket; false when the peer went away.
bool SendAll(PeerSocket fd, const std::string& bytes);
// Reads until end of stream or the limit; what came.
std::string ReadToEnd(PeerSocket fd, int timeoutMs = 5000);
void ClosePeer(PeerSocket fd);
// Closes so that the other side gets a reset instead of an end of stream.
void CloseWithReset(PeerSocket fd);
// Ends the sending side of any socket, ours or the peer's.
void ShutdownSend(PeerSocket fd);
// A send that cannot go on for this long fails instead of blocking.
void SetSendTimeout(PeerSocket fd, int timeoutMs);

// After delayMs, sends bytes and ends the sending side, so that no receive
// after that waits for ever. Join the thread before the peer is closed.
std::thread SendLater(PeerSocket fd, std::string bytes, int delayMs);

// Reads until the empty line that ends a request header (kept), or the limit.
std::string ReadRequestHeader(PeerSocket fd, int timeoutMs = 5000);
// Reads exactly n bytes; fewer when the peer closed or the limit passed.
std::string ReadExactly(PeerSocket fd, std::size_t n, int timeoutMs = 5000);

// True when a receive would not wait, within the limit.
bool WaitReadable(PeerSocket fd, int timeoutMs);
// One receive of the system's: bytes, 0 at the end of stream, -1 on failure.
long ReceiveSome(PeerSocket fd, char* buffer, std::size_t size);

// What the system says of any socket, ours included.
struct SocketFacts {
  bool bOpen = false;
  bool bInherited = false;  // by programs that the process starts
  bool bReuseAddress = false;
  bool bStream = false;
};
SocketFacts Facts(PeerSocket fd);

// The system's codes for what the tests provoke, as the socket layer
// reports them in t_nSockError.
extern const std::int32_t kRefused;     // nothing listens at the port
extern const std::int32_t kReset;       // the peer reset the connection
extern const std::int32_t kNotASocket;  // no socket at all
// Wine's server takes a connection's reset for itself, so that a receive
// may then see a plain end of stream; Windows and POSIX report the reset.
bool ResetMayReadAsEnd();
// The peer went away: closed, reset or aborted, as the system words it.
bool IsBrokenConnection(std::int32_t code);
// Where a send to a closed peer may raise a signal, it has not been set
// aside: the tests that send to one show that the code under test avoids it.
void ExpectBrokenPipeSignalUntouched();

// Serves each connection accepted on its listener with handler(fd, index),
// one after the other on a thread of its own, and closes it afterwards.
// Handlers must bound their own waits; destruction stops the accepting.
class ScriptedServer {
 public:
  using Handler = std::function<void(PeerSocket fd, int index)>;
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
