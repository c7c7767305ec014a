#include "socket_pair.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "fuzz_check.h"

SocketPair::SocketPair() {
  int fds[2];
  FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0);
  m_ours = fds[0];
  m_theirs = fds[1];
  fcntl(m_theirs, F_SETFL, fcntl(m_theirs, F_GETFL) | O_NONBLOCK);
}

SocketPair::~SocketPair() {
  close(m_ours);
  Close();
}

void SocketPair::Close() {
  if (m_theirs >= 0) close(m_theirs);
  m_theirs = platform::kNoSocket;
}

long SocketPair::SendSome(const char* data, std::size_t size) { return send(m_theirs, data, size, MSG_NOSIGNAL); }

void SocketPair::EndSending() { shutdown(m_theirs, SHUT_WR); }
