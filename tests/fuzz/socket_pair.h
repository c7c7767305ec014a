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
    close(m_theirs);
  }
  SocketPair(const SocketPair&) = delete;
  SocketPair& operator=(const SocketPair&) = delete;
  int ours() const { return m_ours; }
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
