// The SOCKS handshakes that open a tunnel through a proxy to the server.
// They take what they need of a download session as plain values, so that
// the transport knows nothing of HTTP.
#pragma once

#include <cstdint>
#include <string>

#include "net/recv_buffer.h"
#include "net/sock.h"

// Kinds of connection (a session's m_nProxyType). 2 names none.
constexpr std::int32_t PROXY_DIRECT = 0;
constexpr std::int32_t PROXY_HTTP = 1;
constexpr std::int32_t PROXY_SOCKS4 = 3;
constexpr std::int32_t PROXY_SOCKS4A = 4;
constexpr std::int32_t PROXY_SOCKS5 = 5;

// Outcomes of a handshake.
constexpr std::int32_t PH_READY = 0;      // the tunnel is open: the request may follow
constexpr std::int32_t PH_TRANSIENT = 1;  // unreachable, silent or refusing: another attempt may do
constexpr std::int32_t PH_FAILED = 2;     // another attempt would not do better

struct ProxyRoute {
  std::int32_t nType = PROXY_SOCKS5;  // PROXY_SOCKS4, PROXY_SOCKS4A or PROXY_SOCKS5
  std::string strProxyHost;
  std::uint16_t nProxyPort = 0;
  BOOL bProxyAuth = FALSE;  // SOCKS5 offers user name and password too
  std::string strProxyUserName;  // also the SOCKS4 user id
  std::string strProxyPassword;
  std::string strHost;  // the server, as the URL names it
  std::uint16_t nPort = 0;
  std::int32_t nConnectTimeout = 10000;
  std::int32_t nSendTimeout = 10000;
  std::int32_t nReceiveTimeout = 10000;
};

// Connects s to the proxy and asks it for a tunnel to the server. Every
// reply byte is read from ring, so that what the server sends after the
// proxy's last reply stays there for the caller.
std::int32_t ProxyConnect(SOCKET s, RecvBuffer* ring, const ProxyRoute& route);

// The messages of the handshake on a socket already connected to the
// proxy. nAddress: the server's address for SOCKS4 and SOCKS4A, or
// INADDR_NONE when it did not resolve here (SOCKS5 resolves by itself).
std::int32_t SocksNegotiate(SOCKET s, RecvBuffer* ring, const ProxyRoute& route, std::uint32_t nAddress);
