// A relay in front of a server on 127.0.0.1 that passes the bytes of each
// connection on both ways, as they are (TLS too), and closes both ends once
// `cut` bytes of the server's came back, as an unsteady network does.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "loopback.h"

class CuttingRelay {
 public:
  CuttingRelay(int port, std::size_t cut)
      : m_server([this, port, cut](loopback::PeerSocket client, int) { Relay(static_cast<int>(client), port, cut); }) {}
  // scheme://127.0.0.1:port + path
  std::string Url(const std::string& scheme, const std::string& path) const {
    return scheme + "://127.0.0.1:" + std::to_string(m_server.port()) + path;
  }
  int connections() const { return m_server.connections(); }
  // The server's bytes that went on to the clients, in all.
  std::size_t passed() const { return m_passed; }

 private:
  void Relay(int client, int port, std::size_t cut) {
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
      char buffer[65536];
      pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      // Ten seconds of silence end it too: nothing here waits unbounded.
      for (std::size_t left = cut; left > 0 && poll(fds, 2, 10000) > 0;) {
        const bool fromServer = fds[1].revents != 0;
        const int from = fromServer ? server : client;
        const int onward = fromServer ? client : server;
        const std::size_t room = fromServer ? std::min(left, sizeof buffer) : sizeof buffer;
        const ssize_t n = recv(from, buffer, room, 0);
        if (n <= 0 || send(onward, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) break;
        if (fromServer) {
          left -= static_cast<std::size_t>(n);
          m_passed += static_cast<std::size_t>(n);
        }
      }
    }
    close(server);
  }

  std::atomic<std::size_t> m_passed{0};
  loopback::ScriptedServer m_server;
};
