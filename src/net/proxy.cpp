#include "net/proxy.h"

#include "net/resolve.h"

namespace {

// One-byte length fields; longer texts are refused, never cut.
constexpr std::size_t kMaxFieldLength = 255;
constexpr std::uint8_t kSocks4Granted = 0x5A;

void PutPort(std::string& m, std::uint16_t port) {
  m += static_cast<char>(port >> 8);
  m += static_cast<char>(port & 0xFF);
}

// The address as it lies in memory is already in network order.
void PutAddress(std::string& m, std::uint32_t address) {
  m.append(reinterpret_cast<const char*>(&address), 4);
}

void PutField(std::string& m, const std::string& text) {
  m += static_cast<char>(text.size());
  m += text;
}

bool SendWhole(SOCKET s, const std::string& m, const ProxyRoute& route) {
  const auto length = static_cast<std::int32_t>(m.size());
  return SockSend(s, m.data(), length, route.nSendTimeout) == length;
}

// Reads n reply bytes into out (when given); false when one did not come.
bool Receive(RecvBuffer* ring, int n, const ProxyRoute& route, std::uint8_t* out = nullptr) {
  for (int i = 0; i < n; ++i) {
    const std::int32_t b = RecvBufferReadByte(ring, route.nReceiveTimeout);
    if (b == RECV_NO_BYTE) return false;
    if (out != nullptr) out[i] = static_cast<std::uint8_t>(b);
  }
  return true;
}

std::int32_t Socks4(SOCKET s, RecvBuffer* ring, const ProxyRoute& route, std::uint32_t address) {
  std::string m{4, 1};
  PutPort(m, route.nPort);
  // SOCKS4A names the server when it does not resolve here: address 0.0.0.1.
  const bool byName = address == INADDR_NONE;
  if (byName) {
    m.append("\0\0\0\1", 4);
  } else {
    PutAddress(m, address);
  }
  m += route.strProxyUserName;
  m += '\0';
  if (byName) {
    m += route.strHost;
    m += '\0';
  }
  if (!SendWhole(s, m, route)) return PH_TRANSIENT;
  std::uint8_t reply[8];
  if (!Receive(ring, 8, route, reply)) return PH_TRANSIENT;
  return reply[1] == kSocks4Granted ? PH_READY : PH_TRANSIENT;
}

std::int32_t Socks5(SOCKET s, RecvBuffer* ring, const ProxyRoute& route) {
  std::string greeting{5, 1, 0};
  if (route.bProxyAuth) greeting = std::string{5, 2, 0, 2};
  if (!SendWhole(s, greeting, route)) return PH_TRANSIENT;
  std::uint8_t method[2];
  if (!Receive(ring, 2, route, method)) return PH_TRANSIENT;
  switch (method[1]) {
    case 0x00:
      break;
    case 0x02: {
      if (!route.bProxyAuth) return PH_FAILED;
      if (route.strProxyUserName.size() > kMaxFieldLength || route.strProxyPassword.size() > kMaxFieldLength) {
        return PH_FAILED;
      }
      std::string m{1};
      PutField(m, route.strProxyUserName);
      PutField(m, route.strProxyPassword);
      if (!SendWhole(s, m, route)) return PH_TRANSIENT;
      std::uint8_t status[2];
      if (!Receive(ring, 2, route, status) || status[1] != 0) return PH_TRANSIENT;
      break;
    }
    case 0x01:  // GSSAPI
    case 0x03:
      return PH_FAILED;
    default:  // 0xFF: none of ours is acceptable, perhaps only for now
      return PH_TRANSIENT;
  }

  std::string m{5, 1, 0};
  const std::uint32_t address = ResolveHost(route.strHost.c_str(), TRUE);
  if (address != INADDR_NONE) {
    m += '\1';
    PutAddress(m, address);
  } else {
    if (route.strHost.size() > kMaxFieldLength) return PH_FAILED;
    m += '\3';
    PutField(m, route.strHost);
  }
  PutPort(m, route.nPort);
  if (!SendWhole(s, m, route)) return PH_TRANSIENT;

  std::uint8_t reply[4];
  if (!Receive(ring, 4, route, reply) || reply[1] != 0) return PH_TRANSIENT;
  // The bound address and port are of no use, but must not be taken for
  // the server's first bytes.
  int bound = 0;
  if (reply[3] == 1) bound = 4;
  if (reply[3] == 4) bound = 16;
  if (reply[3] == 3) {
    std::uint8_t length;
    if (!Receive(ring, 1, route, &length)) return PH_TRANSIENT;
    bound = length;
  }
  return Receive(ring, bound + 2, route) ? PH_READY : PH_TRANSIENT;
}

}  // namespace

std::int32_t SocksNegotiate(SOCKET s, RecvBuffer* ring, const ProxyRoute& route, std::uint32_t nAddress) {
  switch (route.nType) {
    case PROXY_SOCKS4:
      return nAddress == INADDR_NONE ? PH_TRANSIENT : Socks4(s, ring, route, nAddress);
    case PROXY_SOCKS4A:
      return Socks4(s, ring, route, nAddress);
    case PROXY_SOCKS5:
      return Socks5(s, ring, route);
    default:
      return PH_FAILED;
  }
}

std::int32_t ProxyConnect(SOCKET s, RecvBuffer* ring, const ProxyRoute& route) {
  std::uint32_t address = INADDR_NONE;
  if (route.nType == PROXY_SOCKS4 || route.nType == PROXY_SOCKS4A) {
    // A server that SOCKS4 cannot name is given up before the proxy hears of it.
    address = ResolveHost(route.strHost.c_str(), TRUE);
    if (address == INADDR_NONE && route.nType == PROXY_SOCKS4) return PH_TRANSIENT;
  } else if (route.nType != PROXY_SOCKS5) {
    return PH_FAILED;
  }
  if (SockConnectHost(s, route.strProxyHost.c_str(), route.nProxyPort, route.nConnectTimeout, TRUE) != 0) {
    return PH_TRANSIENT;
  }
  return SocksNegotiate(s, ring, route, address);
}
