// One request through every kind of connection, to real servers and
// proxies on loopback: the body that follows HX_OK is the file, byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/exchange.h"
#include "http/session.h"
#include "http/url.h"
#include "support/peers.h"
#include "support/support.h"

using namespace testing_support;

namespace {

std::string Content(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 2654435761u) >> 13);
  return s;
}

struct Site {
  TempDir root;
  std::string file = Content(70000);
  NginxPeer nginx{root.path()};
  Site() {
    WriteFile(root / "pkg/file.bin", file);
    WriteFile(root / "dir/index.html", "index");
  }
};

struct Proxy {
  std::int32_t type;
  int port;
  std::string user;
  std::string password;
};

void Aim(CHttpDownload& session, const std::string& url, const Proxy& proxy) {
  session.m_strUrl = url;
  ParseUrl(url, session.m_strHost, session.m_nPort, session.m_strObject);
  session.m_nConnectTimeout = session.m_nSendTimeout = session.m_nReceiveTimeout = 5000;
  session.m_nProxyType = proxy.type;
  session.m_strProxyHost = "127.0.0.1";
  session.m_nProxyPort = static_cast<std::uint16_t>(proxy.port);
  session.m_bProxyAuth = proxy.user.empty() ? FALSE : TRUE;
  session.m_strProxyUserName = proxy.user;
  session.m_strProxyPassword = proxy.password;
}

// The exchange's result, and after HX_OK the body as it follows.
std::int32_t Fetch(const std::string& url, const Proxy& proxy, std::string& body) {
  CHttpDownload session;
  Aim(session, url, proxy);
  const std::int32_t rc = HttpExchange(session);
  body.clear();
  if (rc != HX_OK) return rc;
  char block[RECV_BUFFER_SIZE];
  while (body.size() < session.m_nContentLength) {
    const std::int32_t n = RecvBufferReadBlock(session.m_pRecvBuffer, block, 5000);
    if (n <= 0) break;
    body.append(block, static_cast<std::size_t>(n));
  }
  return rc;
}

struct Case {
  const char* name;
  Proxy proxy;
  std::int32_t result;
};

// Each case fetches the site's file; a success must bring it whole.
void ExpectFetches(const Site& site, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::string body;
    EXPECT_EQ(Fetch(site.nginx.Url("/pkg/file.bin"), c.proxy, body), c.result) << c.name;
    if (c.result == HX_OK) {
      EXPECT_TRUE(body == site.file) << c.name;
    }
  }
}

}  // namespace

TEST(ExchangePeers, DirectAndThroughTinyproxy) {
  Site site;
  TinyproxyPeer open;
  TinyproxyPeer guarded("fetcher", "s3cret.pw");
  const Proxy direct{PROXY_DIRECT, 0, "", ""};
  ExpectFetches(site, {
      {"direct", direct, HX_OK},
      {"http proxy", {PROXY_HTTP, open.port(), "", ""}, HX_OK},
      {"http proxy with credentials", {PROXY_HTTP, guarded.port(), "fetcher", "s3cret.pw"}, HX_OK},
      {"http proxy, credentials missing", {PROXY_HTTP, guarded.port(), "", ""}, HX_FAILED},
      {"http proxy, wrong password", {PROXY_HTTP, guarded.port(), "fetcher", "wrong"}, HX_FAILED},
  });
  // nginx answers a directory without its '/' with an absolute redirect.
  for (const Proxy& p : {direct, Proxy{PROXY_HTTP, open.port(), "", ""}}) {
    std::string body;
    EXPECT_EQ(Fetch(site.nginx.Url("/dir"), p, body), HX_OK) << p.type;
    EXPECT_EQ(body, "index") << p.type;
  }
  std::string body;
  EXPECT_EQ(Fetch(site.nginx.Url("/missing"), direct, body), HX_NOTFOUND);
}

TEST(ExchangePeers, ThroughDante) {
  if (!DantePeer::CanRun()) GTEST_SKIP() << "danted needs root here";
  Site site;
  DantePeer open;
  DantePeer guarded(DantePeer::Auth::kUserName);
  ExpectFetches(site, {
      {"socks4", {PROXY_SOCKS4, open.port(), "", ""}, HX_OK},
      {"socks4a to an address", {PROXY_SOCKS4A, open.port(), "", ""}, HX_OK},
      {"socks5", {PROXY_SOCKS5, open.port(), "", ""}, HX_OK},
      {"socks5 with a user", {PROXY_SOCKS5, guarded.port(), guarded.user(), guarded.password()}, HX_OK},
      {"socks5 with a wrong password", {PROXY_SOCKS5, guarded.port(), guarded.user(), "wrong"}, HX_TRANSIENT},
      {"socks5 without the user it wants", {PROXY_SOCKS5, guarded.port(), "", ""}, HX_TRANSIENT},
  });
}

TEST(ExchangePeers, ThroughMicrosocks) {
  Site site;
  MicrosocksPeer socks("mu", "mpass");
  std::string body;
  EXPECT_EQ(Fetch(site.nginx.Url("/pkg/file.bin"), {PROXY_SOCKS5, socks.port(), "mu", "mpass"}, body), HX_OK);
  EXPECT_TRUE(body == site.file);
  EXPECT_EQ(Fetch(site.nginx.Url("/pkg/file.bin"), {PROXY_SOCKS5, socks.port(), "mu", "nope"}, body), HX_TRANSIENT);
}
