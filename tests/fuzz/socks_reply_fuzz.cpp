// Untrusted proxy replies to the SOCKS handshakes. The first input byte
// picks the kind and whether credentials are offered; the rest is what the
// proxy sends. Checked against a model of how many bytes each handshake
// takes and what its outcome must be.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "net/proxy.h"
#include "net/resolve.h"
#include "socket_pair.h"

namespace {

// Bytes the handshake reads, and its outcome, worked out from the reply.
struct Expected {
  std::size_t consumed = 0;
  std::int32_t outcome = PH_TRANSIENT;
};

Expected Socks4Model(const std::uint8_t* r, std::size_t n) {
  if (n < 8) return {n, PH_TRANSIENT};
  return {8, r[1] == 0x5A ? PH_READY : PH_TRANSIENT};
}

Expected Socks5Model(const std::uint8_t* r, std::size_t n, bool auth) {
  std::size_t at = 2;
  if (n < at) return {n, PH_TRANSIENT};
  const std::uint8_t method = r[1];
  if (method == 1 || method == 3 || (method == 2 && !auth)) return {at, PH_FAILED};
  if (method != 0 && method != 2) return {at, PH_TRANSIENT};
  if (method == 2) {
    at += 2;
    if (n < at) return {n, PH_TRANSIENT};
    if (r[at - 1] != 0) return {at, PH_TRANSIENT};
  }
  at += 4;
  if (n < at) return {n, PH_TRANSIENT};
  if (r[at - 3] != 0) return {at, PH_TRANSIENT};
  const std::uint8_t type = r[at - 1];
  std::size_t bound = type == 1 ? 4 : type == 4 ? 16 : 0;
  if (type == 3) {
    if (n < at + 1) return {n, PH_TRANSIENT};
    bound = r[at];
    ++at;
  }
  at += bound + 2;
  if (n < at) return {n, PH_TRANSIENT};
  return {at, PH_READY};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::int32_t types[] = {PROXY_SOCKS4, PROXY_SOCKS4A, PROXY_SOCKS5};
  ProxyRoute route;
  route.nType = types[(data[0] & 0x7F) % 3];
  route.bProxyAuth = (data[0] & 0x80) != 0;
  route.strProxyUserName = "user";
  route.strProxyPassword = "password";
  route.strHost = "127.0.0.1";
  route.nPort = 8080;
  route.nSendTimeout = route.nReceiveTimeout = 50;
  const std::uint8_t* reply = data + 1;
  const std::size_t n = size - 1;

  SocketPair pair;
  const std::size_t played = pair.PlayAndEnd(reply, n);
  RecvBuffer* ring = RecvBufferCreate(pair.ours());
  FUZZ_CHECK(ring != nullptr);
  const std::int32_t outcome = SocksNegotiate(pair.ours(), ring, route, ResolveHost("127.0.0.1", FALSE));

  const Expected want = route.nType == PROXY_SOCKS5 ? Socks5Model(reply, played, route.bProxyAuth)
                                                    : Socks4Model(reply, played);
  FUZZ_CHECK(outcome == want.outcome);
  if (outcome == PH_READY) {
    // What follows the reply is the server's, from its first byte on.
    std::string rest;
    for (std::int32_t b; (b = RecvBufferReadByte(ring, 0)) != RECV_NO_BYTE;) rest += static_cast<char>(b);
    FUZZ_CHECK(rest == std::string(reinterpret_cast<const char*>(reply) + want.consumed, played - want.consumed));
  }
  RecvBufferFree(ring);
  return 0;
}
