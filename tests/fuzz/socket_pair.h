// A connected pair of stream sockets: ours for the code under test, and the
// peer's end that plays back an input and then ends its side of the stream.
// A Unix socket pair on Linux, a loopback TCP connection on Windows.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"

class SocketPair {
 public:
  SocketPair();
  ~SocketPair();
  SocketPair(const SocketPair&) = delete;
  SocketPair& operator=(const SocketPair&) = delete;
  platform::SocketHandle ours() const { return m_ours; }
  // What went out of bytes, as far as the socket took it.
  std::string Send(const std::string& bytes) {
    if (closed() || bytes.empty()) return std::string();
    const long n = SendSome(bytes.data(), bytes.size());
    return n > 0 ? bytes.substr(0, static_cast<std::size_t>(n)) : std::string();
  }
  // Closes the peer's end altogether.
  void Close();
  bool closed() const { return m_theirs == platform::kNoSocket; }
  // Sends what the socket takes at once, then ends the peer's sending side
  // (its receiving side stays open for what ours sends). What went out.
  std::size_t PlayAndEnd(const std::uint8_t* data, std::size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
      const long n = SendSome(reinterpret_cast<const char*>(data) + sent, size - sent);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    EndSending();
    return sent;
  }

 private:
  // One send on the peer's end, which never blocks; negative when nothing went.
  long SendSome(const char* data, std::size_t size);
  void EndSending();

  platform::SocketHandle m_ours = platform::kNoSocket;
  platform::SocketHandle m_theirs = platform::kNoSocket;
};
