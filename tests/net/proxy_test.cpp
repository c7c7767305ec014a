// The SOCKS handshakes against a scripted proxy: the bytes it receives,
// message by message, and what each of its answers leads to.
#include "net/proxy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loopback.h"

namespace {

using Bytes = std::string;

// What the proxy waits for, and what it answers once that came. The last
// step's answer may be cut short or followed by a close.
struct Step {
  Bytes expect;
  Bytes answer;
};

struct HandshakeCase {
  const char* name;
  std::int32_t type;
  BOOL auth;
  std::string user;
  std::string password;
  std::string host;
  std::uint16_t port;
  std::vector<Step> steps;
  std::int32_t outcome;
};

Bytes B(std::initializer_list<int> bytes) {
  Bytes b;
  for (int v : bytes) b += static_cast<char>(v);
  return b;
}

const Bytes kGranted4 = B({0, 0x5A, 0, 0, 0, 0, 0, 0});
const Bytes kReply5 = B({5, 0, 0, 1, 0, 0, 0, 0, 0, 0});
const Bytes kLocal8080 = B({0x1F, 0x90, 127, 0, 0, 1});  // port, then address

// Records every byte the proxy got; after the script it keeps listening a
// moment, so that a message sent in spite of a failure shows too.
struct ScriptedProxy {
  std::vector<Step> steps;
  Bytes received;
  loopback::ScriptedServer server;

  explicit ScriptedProxy(std::vector<Step> s)
      : steps(std::move(s)), server([this](loopback::PeerSocket fd, int) {
          for (const Step& step : steps) {
            Bytes got = loopback::ReadExactly(fd, step.expect.size(), 2000);
            received += got;
            if (got != step.expect) return;
            if (!step.answer.empty() && !loopback::SendAll(fd, step.answer)) return;
          }
          received += loopback::ReadExactly(fd, 1, 150);
        }) {}
};

std::int32_t RunHandshake(const HandshakeCase& c, std::uint16_t proxyPort, Bytes* after = nullptr) {
  ProxyRoute route;
  route.nType = c.type;
  route.strProxyHost = "127.0.0.1";
  route.nProxyPort = proxyPort;
  route.bProxyAuth = c.auth;
  route.strProxyUserName = c.user;
  route.strProxyPassword = c.password;
  route.strHost = c.host;
  route.nPort = c.port;
  route.nConnectTimeout = route.nSendTimeout = route.nReceiveTimeout = 1000;
  SOCKET s = SockCreate();
  RecvBuffer* ring = RecvBufferCreate(s);
  const std::int32_t outcome = ProxyConnect(s, ring, route);
  if (after != nullptr) {
    for (std::int32_t b; (b = RecvBufferReadByte(ring, 500)) != RECV_NO_BYTE;) *after += static_cast<char>(b);
  }
  RecvBufferFree(ring);
  SockClose(s, TRUE);
  return outcome;
}

Bytes Concatenated(const std::vector<Step>& steps) {
  Bytes all;
  for (const Step& s : steps) all += s.expect;
  return all;
}

}  // namespace

TEST(ProxyHandshake, BytesAndOutcomes) {
  const std::string user255(255, 'u'), user256(256, 'u'), host256 = std::string(248, 'h') + ".invalid";
  const HandshakeCase cases[] = {
      {"socks4 with user id", PROXY_SOCKS4, FALSE, "bob", "", "127.0.0.1", 8080,
       {{B({4, 1}) + kLocal8080 + "bob" + B({0}), kGranted4}}, PH_READY},
      {"socks4 empty user id: nine bytes", PROXY_SOCKS4, FALSE, "", "", "127.0.0.1", 80,
       {{B({4, 1, 0, 80, 127, 0, 0, 1, 0}), kGranted4}}, PH_READY},
      {"socks4 refused", PROXY_SOCKS4, FALSE, "", "", "127.0.0.1", 80,
       {{B({4, 1, 0, 80, 127, 0, 0, 1, 0}), B({0, 0x5B, 0, 0, 0, 0, 0, 0})}}, PH_TRANSIENT},
      {"socks4 reply cut short", PROXY_SOCKS4, FALSE, "", "", "127.0.0.1", 80,
       {{B({4, 1, 0, 80, 127, 0, 0, 1, 0}), B({0, 0x5A, 0, 0})}}, PH_TRANSIENT},
      {"socks4a sends a name that does not resolve here", PROXY_SOCKS4A, FALSE, "u", "", "srv.invalid", 80,
       {{B({4, 1, 0, 80, 0, 0, 0, 1}) + "u" + B({0}) + "srv.invalid" + B({0}), kGranted4}}, PH_READY},
      {"socks4a with an address is plain socks4", PROXY_SOCKS4A, FALSE, "", "", "127.0.0.1", 8080,
       {{B({4, 1}) + kLocal8080 + B({0}), kGranted4}}, PH_READY},
      {"socks5 without authentication", PROXY_SOCKS5, FALSE, "", "", "127.0.0.1", 8080,
       {{B({5, 1, 0}), B({5, 0})}, {B({5, 1, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}), kReply5}}, PH_READY},
      {"socks5 user name and password", PROXY_SOCKS5, TRUE, "bob", "pw", "127.0.0.1", 8080,
       {{B({5, 2, 0, 2}), B({5, 2})}, {B({1, 3}) + "bob" + B({2}) + "pw", B({1, 0})},
        {B({5, 1, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}), kReply5}}, PH_READY},
      {"socks5 credentials offered, none asked", PROXY_SOCKS5, TRUE, "bob", "pw", "127.0.0.1", 80,
       {{B({5, 2, 0, 2}), B({5, 0})}, {B({5, 1, 0, 1, 127, 0, 0, 1, 0, 80}), kReply5}}, PH_READY},
      {"socks5 longest user name", PROXY_SOCKS5, TRUE, user255, "", "127.0.0.1", 80,
       {{B({5, 2, 0, 2}), B({5, 2})}, {B({1, 255}) + user255 + B({0}), B({1, 0})},
        {B({5, 1, 0, 1, 127, 0, 0, 1, 0, 80}), kReply5}}, PH_READY},
      {"socks5 name that does not resolve here", PROXY_SOCKS5, FALSE, "", "", "srv.invalid", 80,
       {{B({5, 1, 0}), B({5, 0})}, {B({5, 1, 0, 3, 11}) + "srv.invalid" + B({0, 80}), kReply5}}, PH_READY},
      {"socks5 asks for credentials it was not offered", PROXY_SOCKS5, FALSE, "", "", "127.0.0.1", 80,
       {{B({5, 1, 0}), B({5, 2})}}, PH_FAILED},
      {"socks5 asks for GSSAPI", PROXY_SOCKS5, FALSE, "", "", "127.0.0.1", 80, {{B({5, 1, 0}), B({5, 1})}},
       PH_FAILED},
      {"socks5 method 3", PROXY_SOCKS5, FALSE, "", "", "127.0.0.1", 80, {{B({5, 1, 0}), B({5, 3})}}, PH_FAILED},
      {"socks5 no acceptable method", PROXY_SOCKS5, FALSE, "", "", "127.0.0.1", 80, {{B({5, 1, 0}), B({5, 0xFF})}},
       PH_TRANSIENT},
      {"socks5 private method", PROXY_SOCKS5, TRUE, "a", "b", "127.0.0.1", 80, {{B({5, 2, 0, 2}), B({5, 0x80})}},
       PH_TRANSIENT},
      {"socks5 credentials refused", PROXY_SOCKS5, TRUE, "bob", "no", "127.0.0.1", 80,
       {{B({5, 2, 0, 2}), B({5, 2})}, {B({1, 3}) + "bob" + B({2}) + "no", B({1, 1})}}, PH_TRANSIENT},
      {"socks5 connect refused", PROXY_SOCKS5, FALSE, "", "", "127.0.0.1", 80,
       {{B({5, 1, 0}), B({5, 0})}, {B({5, 1, 0, 1, 127, 0, 0, 1, 0, 80}), B({5, 5, 0, 1})}}, PH_TRANSIENT},
      {"socks5 reply cut in the bound address", PROXY_SOCKS5, FALSE, "", "", "127.0.0.1", 80,
       {{B({5, 1, 0}), B({5, 0})}, {B({5, 1, 0, 1, 127, 0, 0, 1, 0, 80}), B({5, 0, 0, 3, 9, 'a'})}}, PH_TRANSIENT},
      // Too long for a one-byte length: refused, and nothing cut is sent.
      {"socks5 user name of 256 bytes", PROXY_SOCKS5, TRUE, user256, "pw", "127.0.0.1", 80,
       {{B({5, 2, 0, 2}), B({5, 2})}}, PH_FAILED},
      {"socks5 password of 256 bytes", PROXY_SOCKS5, TRUE, "bob", user256, "127.0.0.1", 80,
       {{B({5, 2, 0, 2}), B({5, 2})}}, PH_FAILED},
      {"socks5 host name of 256 bytes", PROXY_SOCKS5, FALSE, "", "", host256, 80, {{B({5, 1, 0}), B({5, 0})}},
       PH_FAILED},
  };
  for (const HandshakeCase& c : cases) {
    ScriptedProxy proxy(c.steps);
    EXPECT_EQ(RunHandshake(c, proxy.server.port()), c.outcome) << c.name;
    EXPECT_EQ(proxy.received, Concatenated(c.steps)) << c.name;
  }
}

TEST(ProxyHandshake, BoundAddressIsConsumedWhole) {
  struct {
    const char* name;
    Bytes reply;
  } replies[] = {
      {"IPv4", B({5, 0, 0, 1, 10, 0, 0, 1, 0x12, 0x34})},
      {"name", B({5, 0, 0, 3, 5}) + "bound" + B({0x12, 0x34})},
      {"IPv6", B({5, 0, 0, 4}) + Bytes(16, '\x01') + B({0x12, 0x34})},
      {"unknown type: no address", B({5, 0, 0, 9, 0x12, 0x34})},
  };
  for (const auto& r : replies) {
    const std::vector<Step> steps = {{B({5, 1, 0}), B({5, 0})},
                                     {B({5, 1, 0, 1, 127, 0, 0, 1, 0, 80}), r.reply + "HTTP/1.1"}};
    ScriptedProxy proxy(steps);
    const HandshakeCase c{r.name, PROXY_SOCKS5, FALSE, "", "", "127.0.0.1", 80, steps, PH_READY};
    Bytes after;
    EXPECT_EQ(RunHandshake(c, proxy.server.port(), &after), PH_READY) << r.name;
    EXPECT_EQ(after, "HTTP/1.1") << r.name;
  }
}

TEST(ProxyHandshake, Socks4ServerThatDoesNotResolveNeverReachesTheProxy) {
  ScriptedProxy proxy({});
  const HandshakeCase c{"", PROXY_SOCKS4, FALSE, "", "", "srv.invalid", 80, {}, PH_TRANSIENT};
  EXPECT_EQ(RunHandshake(c, proxy.server.port()), PH_TRANSIENT);
  EXPECT_EQ(proxy.server.connections(), 0);
}

TEST(ProxyHandshake, UnreachableProxyAndOtherKinds) {
  loopback::Listener closed;
  const std::uint16_t port = closed.port();
  closed.Close();
  for (std::int32_t type : {PROXY_SOCKS4, PROXY_SOCKS4A, PROXY_SOCKS5}) {
    const HandshakeCase c{"", type, FALSE, "", "", "127.0.0.1", 80, {}, PH_TRANSIENT};
    EXPECT_EQ(RunHandshake(c, port), PH_TRANSIENT) << type;
  }
  for (std::int32_t type : {PROXY_DIRECT, PROXY_HTTP, 2, 6, -1}) {
    ScriptedProxy proxy({});
    const HandshakeCase c{"", type, FALSE, "", "", "127.0.0.1", 80, {}, PH_FAILED};
    EXPECT_EQ(RunHandshake(c, proxy.server.port()), PH_FAILED) << type;
    EXPECT_EQ(proxy.server.connections(), 0) << type;
  }
}
