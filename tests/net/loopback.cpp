#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace loopback {

Listener::Listener(int backlog, const char* address) {
  m_address = inet_addr(address);
  if ((ntohl(m_address) >> 24) != 127) throw std::runtime_error("not a loopback address");
  m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) throw std::runtime_error("socket");
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = m_address;
  socklen_t len = sizeof sin;
  if (bind(m_fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
      listen(m_fd, backlog) != 0 ||
      getsockname(m_fd, reinterpret_cast<sockaddr*>(&sin), &len) != 0) {
    close(m_fd);
    throw std::runtime_error("listen");
  }
  m_port = ntohs(sin.sin_port);
}

Listener::~Listener() { Close(); }

void Listener::Close() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

SockAddrIn Listener::address() const {
  return platform::MakeSocketAddressV4(m_address, m_port);
}

int Listener::Accept(int timeoutMs) {
  pollfd p{m_fd, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) != 1) return -1;
  return accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
}

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
  if (c.peer >= 0) close(c.peer);
  c = Connection{};
}

bool SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string ReadToEnd(int fd, int timeoutMs) {
  std::string got;
  const Clock::time_point start = Clock::now();
  char buf[65536];
  for (;;) {
    const long long left = timeoutMs - MillisecondsSince(start);
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) != 1) break;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

void CloseWithReset(int fd) {
  linger l{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  close(fd);
}

static bool WaitReadable(int fd, Clock::time_point start, int timeoutMs) {
  const long long left = timeoutMs - MillisecondsSince(start);
  if (left <= 0) return false;
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(left)) == 1;
}

std::string ReadRequestHeader(int fd, int timeoutMs) {
  std::string got;
  const Clock::time_point start = Clock::now();
  char c;
  while (got.find("\r\n\r\n") == std::string::npos && WaitReadable(fd, start, timeoutMs) &&
         recv(fd, &c, 1, 0) == 1) {
    got += c;
  }
  return got;
}

std::string ReadExactly(int fd, std::size_t n, int timeoutMs) {
  std::string got;
  const Clock::time_point start = Clock::now();
  char buf[4096];
  while (got.size() < n && WaitReadable(fd, start, timeoutMs)) {
    const ssize_t r = recv(fd, buf, std::min(sizeof buf, n - got.size()), 0);
    if (r <= 0) break;
    got.append(buf, static_cast<std::size_t>(r));
  }
  return got;
}

ScriptedServer::ScriptedServer(Handler handler, const char* address)
    : m_listener(16, address), m_handler(std::move(handler)) {
  m_thread = std::thread([this] {
    while (!m_stop) {
      const int fd = m_listener.Accept(50);
      if (fd < 0) continue;
      const int index = m_accepted++;
      m_handler(fd, index);
      close(fd);
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
          [this](int fd, int index) {
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
