#include "loopback.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "loopback_backend.h"

namespace loopback {

namespace {

// Dotted text of an address in 127.0.0.0/8 only, in network byte order.
std::uint32_t LoopbackAddress(const char* text) {
  unsigned a, b, c, d;
  char rest;
  if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &rest) != 4 || a != 127 || b > 255 || c > 255 || d > 255)
    throw std::runtime_error(std::string("not a loopback address: ") + text);
  return Ipv4(a, b, c, d);
}

bool WaitReadable(Fd fd, Clock::time_point start, int timeoutMs) {
  const long long left = timeoutMs - MillisecondsSince(start);
  return left > 0 && backend::WaitReadable(fd, static_cast<int>(left));
}

}  // namespace

Listener::Listener(int backlog, const char* address) {
  m_address = LoopbackAddress(address);
  m_fd = backend::Listen(m_address, backlog, m_port);
  if (m_fd < 0) throw std::runtime_error("listen");
}

Listener::~Listener() { Close(); }

void Listener::Close() {
  if (m_fd >= 0) CloseSocket(m_fd);
  m_fd = -1;
}

SockAddrIn Listener::address() const {
  return platform::MakeSocketAddressV4(m_address, m_port);
}

Fd Listener::Accept(int timeoutMs) { return backend::Accept(m_fd, timeoutMs); }

Connection Connect(Listener& listener) {
  Connection c;
  c.ours = SockCreate();
  if (c.ours == INVALID_SOCKET) throw std::runtime_error("SockCreate");
  if (SockConnect(c.ours, listener.address(), 5000) != 0) throw std::runtime_error("SockConnect");
  c.peer = listener.Accept();
  if (c.peer < 0) throw std::runtime_error("accept");
  return c;
}

void CloseConnection(Connection& c) {
  if (c.ours != INVALID_SOCKET) SockClose(c.ours, TRUE);
  if (c.peer >= 0) CloseSocket(c.peer);
  c = Connection{};
}

bool SendAll(Fd fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const long n = backend::Send(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ReadToEnd(Fd fd, int timeoutMs) {
  std::string got;
  const Clock::time_point start = Clock::now();
  char buf[65536];
  while (WaitReadable(fd, start, timeoutMs)) {
    const long n = backend::Receive(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

std::string ReadRequestHeader(Fd fd, int timeoutMs) {
  std::string got;
  const Clock::time_point start = Clock::now();
  char c;
  while (got.find("\r\n\r\n") == std::string::npos && WaitReadable(fd, start, timeoutMs) &&
         backend::Receive(fd, &c, 1) == 1) {
    got += c;
  }
  return got;
}

std::string ReadExactly(Fd fd, std::size_t n, int timeoutMs) {
  std::string got;
  const Clock::time_point start = Clock::now();
  char buf[4096];
  while (got.size() < n && WaitReadable(fd, start, timeoutMs)) {
    const long r = backend::Receive(fd, buf, std::min(sizeof buf, n - got.size()));
    if (r <= 0) break;
    got.append(buf, static_cast<std::size_t>(r));
  }
  return got;
}

ScriptedServer::ScriptedServer(Handler handler, const char* address)
    : m_listener(16, address), m_handler(std::move(handler)) {
  m_thread = std::thread([this] {
    while (!m_stop) {
      const Fd fd = m_listener.Accept(50);
      if (fd < 0) continue;
      const int index = m_accepted++;
      m_handler(fd, index);
      CloseSocket(fd);
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
          [this](Fd fd, int index) {
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
