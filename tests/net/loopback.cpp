#include "loopback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "net/sock.h"

namespace loopback {

namespace {

// Every test of a program that links these peers has the socket library
// started, as the launcher starts it before its first socket.
class SocketLibrary : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(SockStartup(), 0) << t_nSockError; }
};
[[maybe_unused]] ::testing::Environment* const g_socketLibrary =
    ::testing::AddGlobalTestEnvironment(new SocketLibrary);

bool WaitReadableSince(PeerSocket fd, Clock::time_point start, int timeoutMs) {
  const long long left = timeoutMs - MillisecondsSince(start);
  return left > 0 && WaitReadable(fd, static_cast<int>(left));
}

}  // namespace

platform::SocketAddressV4 Listener::address() const {
  return platform::MakeSocketAddressV4(m_address, m_port);
}

Listener::~Listener() { Close(); }

FullListener::FullListener() {
  // Backlog 0 and never accepted: once the queue is full, further
  // handshakes are dropped and the connects stay pending.
  for (int i = 0; i < 32; ++i) {
    const SOCKET s = SockCreate();
    if (s == INVALID_SOCKET) break;
    m_queued.push_back(s);
    if (SockConnect(s, m_listener.address(), 150) == -1) return;
  }
  for (SOCKET q : m_queued) SockClose(q, TRUE);
  throw std::runtime_error("the listener's queue never filled");
}

FullListener::~FullListener() {
  for (SOCKET q : m_queued) SockClose(q, TRUE);
}

Connection Connect(Listener& listener) {
  Connection c;
  c.ours = SockCreate();
  if (c.ours == INVALID_SOCKET) throw std::runtime_error("SockCreate");
  if (SockConnect(c.ours, listener.address(), 5000) != 0) throw std::runtime_error("SockConnect");
  c.peer = listener.Accept();
  if (c.peer == kNoPeer) throw std::runtime_error("accept");
  return c;
}

void CloseConnection(Connection& c) {
  if (c.ours != INVALID_SOCKET) SockClose(c.ours, TRUE);
  if (c.peer != kNoPeer) ClosePeer(c.peer);
  c = Connection{};
}

std::string ReadToEnd(PeerSocket fd, int timeoutMs) {
  std::string got;
  const Clock::time_point start = Clock::now();
  char buf[65536];
  while (WaitReadableSince(fd, start, timeoutMs)) {
    const long n = ReceiveSome(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

std::thread SendLater(PeerSocket fd, std::string bytes, int delayMs) {
  return std::thread([fd, bytes = std::move(bytes), delayMs] {
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    SendAll(fd, bytes);
    ShutdownSend(fd);
  });
}

std::string ReadRequestHeader(PeerSocket fd, int timeoutMs) {
  std::string got;
  const Clock::time_point start = Clock::now();
  char c;
  while (got.find("\r\n\r\n") == std::string::npos && WaitReadableSince(fd, start, timeoutMs) &&
         ReceiveSome(fd, &c, 1) == 1) {
    got += c;
  }
  return got;
}

std::string ReadExactly(PeerSocket fd, std::size_t n, int timeoutMs) {
  std::string got;
  const Clock::time_point start = Clock::now();
  char buf[4096];
  while (got.size() < n && WaitReadableSince(fd, start, timeoutMs)) {
    const long r = ReceiveSome(fd, buf, std::min(sizeof buf, n - got.size()));
    if (r <= 0) break;
    got.append(buf, static_cast<std::size_t>(r));
  }
  return got;
}

ScriptedServer::ScriptedServer(Handler handler, const char* address)
    : m_listener(16, address), m_handler(std::move(handler)) {
  m_thread = std::thread([this] {
    while (!m_stop) {
      const PeerSocket fd = m_listener.Accept(50);
      if (fd == kNoPeer) continue;
      const int index = m_accepted++;
      m_handler(fd, index);
      ClosePeer(fd);
    }
  });
}

ScriptedServer::~ScriptedServer() {
  m_stop = true;
  m_thread.join();
}

Responder::Responder(std::vector<std::string> answers, const char* address)
    : m_address(address),
      m_answers(std::move(answers)),
      m_server(
          [this](PeerSocket fd, int index) {
            std::string request = ReadRequestHeader(fd);
            {
              std::lock_guard<std::mutex> g(m_lock);
              m_requests.push_back(request);
            }
            if (m_answers.empty()) return;
            SendAll(fd, m_answers[std::min(static_cast<std::size_t>(index), m_answers.size() - 1)]);
          },
          address) {}

std::string Responder::Url(const std::string& path) const {
  return "http://" + m_address + ":" + std::to_string(port()) + path;
}

std::string Responder::Request(std::size_t i) const {
  std::lock_guard<std::mutex> g(m_lock);
  return i < m_requests.size() ? m_requests[i] : std::string();
}

std::uint32_t Ipv4(unsigned a, unsigned b, unsigned c, unsigned d) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                  static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  std::uint32_t v;
  std::memcpy(&v, bytes, sizeof v);
  return v;
}

}  // namespace loopback
