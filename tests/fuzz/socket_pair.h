// A connected pair of stream sockets: ours for the code under test, and the
// peer's end that plays back an input and then ends its side of the stream.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"

class SocketPair {
 public:
  SocketPair() {
    int fds[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0);
    m_ours = fds[0];
    m_theirs = fds[1];
    fcntl(m_theirs, F_SETFL, fcntl(m_theirs, F_GETFL) | O_NONBLOCK);
  }
  ~SocketPair() {
    close(m_ours);
    Close();
  }
  SocketPair(const SocketPair&) = delete;
  SocketPair& operator=(const SocketPair&) = delete;
  int ours() const { return m_ours; }
  // What went out of bytes, as far as the socket took it.
  std::string Send(const std::string& bytes) {
    if (m_theirs < 0 || bytes.empty()) return std::string();
    const ssize_t n = send(m_theirs, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    return n > 0 ? bytes.substr(0, static_cast<std::size_t>(n)) : std::string();
  }
  // Closes the peer's end altogether.
  void Close() {
    if (m_theirs >= 0) close(m_theirs);
    m_theirs = -1;
  }
  bool closed() const { return m_theirs < 0; }
  // Sends what the socket takes at once, then ends the peer's sending side
  // (its receiving side stays open for what ours sends). What went out.
  std::size_t PlayAndEnd(const std::uint8_t* data, std::size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
      const ssize_t n = send(m_theirs, data + sent, size - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    shutdown(m_theirs, SHUT_WR);
    return sent;
  }

 private:
  int m_ours = -1;
  int m_theirs = -1;
};
