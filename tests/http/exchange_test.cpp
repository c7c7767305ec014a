// One exchange against scripted servers on loopback: what goes out, what
// each answer leads to, and that nothing loops or grows without bound.
#include "http/exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <atomic>
#include <string>
#include <vector>

#include "http/session.h"
#include "http/url.h"
#include "loopback.h"

using loopback::Responder;
using loopback::ScriptedServer;

namespace {

constexpr std::int32_t kLimitMs = 2000;

void Aim(CHttpDownload& session, const std::string& url) {
  session.m_strUrl = url;
  ASSERT_TRUE(ParseUrl(url, session.m_strHost, session.m_nPort, session.m_strObject)) << url;
  session.m_nConnectTimeout = session.m_nSendTimeout = session.m_nReceiveTimeout = kLimitMs;
}

template <class Server>
std::string Url(const Server& server, const std::string& path, const char* host = "127.0.0.1") {
  return "http://" + std::string(host) + ":" + std::to_string(server.port()) + path;
}

std::string Body(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 31 + 7);
  return s;
}

}  // namespace

TEST(HttpExchange, SuccessLeavesTheBodyOnTheConnection) {
  const std::string header = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nServer: scripted\r\n";
  const std::string body = Body(1000);
  Responder r({header + "\r\n" + body});
  CHttpDownload session;
  Aim(session, Url(r, "/dir/file.bin"));
  session.m_nDownloaded = 5;

  ASSERT_EQ(HttpExchange(session), HX_OK);
  EXPECT_EQ(session.m_nContentLength, 1000u);
  EXPECT_EQ(session.m_nTotalSize, 1000u);
  EXPECT_EQ(session.m_nDownloaded, 0u);
  EXPECT_EQ(session.m_strResponseHeader, header);
  EXPECT_EQ(session.m_nHeaderLength, static_cast<std::int32_t>(header.size()));
  EXPECT_EQ(r.Request(0).substr(0, 28), "GET /dir/file.bin HTTP/1.1\r\n");

  // The body came with the header, and the header reader left it in the ring.
  ASSERT_NE(session.m_pRecvBuffer, nullptr);
  EXPECT_EQ(session.m_pRecvBuffer->nCount, 1000);
  std::string got;
  char block[RECV_BUFFER_SIZE];
  for (std::int32_t n; got.size() < body.size() && (n = RecvBufferReadBlock(session.m_pRecvBuffer, block, 1000)) > 0;)
    got.append(block, static_cast<std::size_t>(n));
  EXPECT_TRUE(got == body);
}

TEST(HttpExchange, ResultsOfTheAnswers) {
  struct {
    const char* answer;
    std::int32_t result;
  } cases[] = {
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", HX_NOTFOUND},
      {"HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n", HX_TRANSIENT},
      {"HTTP/1.1 500 Oops\r\n\r\n", HX_TRANSIENT},
      {"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n", HX_FAILED},
      {"HTTP/1.1 416 Range\r\nContent-Length: 0\r\n\r\n", HX_FAILED},
      {"HTTP/1.1 200 OK\r\nServer: no length\r\n\r\n", HX_FAILED},
      {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", HX_FAILED},
      {"HTTP/1.1 200 OK\r\nContent-Length: 4294967396\r\n\r\n", HX_FAILED},  // 4 GiB and 100: no 100 bytes
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", HX_OK},
      {"garbage\r\n\r\n", HX_FAILED},
      {"HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n", HX_FAILED},  // no Location
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n", HX_TRANSIENT},      // closed before the empty line
      {"", HX_TRANSIENT},
  };
  for (const auto& c : cases) {
    Responder r({c.answer});
    CHttpDownload session;
    Aim(session, Url(r, "/f"));
    EXPECT_EQ(HttpExchange(session), c.result) << c.answer;
  }
}

TEST(HttpExchange, RedirectToAnotherHostSendsTheNewRequestThere) {
  Responder target({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, "127.0.0.2");
  Responder first({"HTTP/1.1 302 Found\r\nLocation: " + Url(target, "/new/place", "127.0.0.2") + "\r\n\r\n"});
  CHttpDownload session;
  const std::string firstUrl = Url(first, "/old");
  Aim(session, firstUrl);

  ASSERT_EQ(HttpExchange(session), HX_OK);
  EXPECT_EQ(session.m_strUrl, Url(target, "/new/place", "127.0.0.2"));
  EXPECT_EQ(session.m_strHost, "127.0.0.2");
  const std::string second = target.Request(0);
  EXPECT_EQ(second.substr(0, 25), "GET /new/place HTTP/1.1\r\n") << second;
  EXPECT_NE(second.find("\r\nHost: 127.0.0.2\r\n"), std::string::npos) << second;
  EXPECT_NE(second.find("\r\nReferer: " + firstUrl + "\r\n"), std::string::npos) << second;
  EXPECT_EQ(first.connections(), 1);
}

TEST(HttpExchange, RootRelativeRedirectStaysOnTheServer) {
  std::atomic<int> n{0};
  ScriptedServer server([&](loopback::PeerSocket fd, int index) {
    loopback::ReadRequestHeader(fd);
    n = index + 1;
    loopback::SendAll(fd, index == 0 ? "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n"
                                     : "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  });
  CHttpDownload session;
  Aim(session, Url(server, "/a/b"));
  EXPECT_EQ(HttpExchange(session), HX_OK);
  EXPECT_EQ(n.load(), 2);
  EXPECT_EQ(session.m_strObject, "/x");
  EXPECT_EQ(session.m_strUrl, Url(server, "/a/b"));
}

TEST(HttpExchange, ThroughAnHttpProxyTheRequestNamesTheUrlAlsoAfterARedirect) {
  std::mutex lock;
  std::vector<std::string> lines;
  ScriptedServer proxy([&](loopback::PeerSocket fd, int index) {
    std::string request = loopback::ReadRequestHeader(fd);
    {
      std::lock_guard<std::mutex> g(lock);
      lines.push_back(request);
    }
    loopback::SendAll(fd, index == 0 ? "HTTP/1.1 301 Moved\r\nLocation: /moved/file\r\n\r\n"
                                     : "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  });
  CHttpDownload session;
  Aim(session, "http://origin.invalid:8080/file");
  session.m_nProxyType = PROXY_HTTP;
  session.m_strProxyHost = "127.0.0.1";
  session.m_nProxyPort = proxy.port();
  session.m_bProxyAuth = TRUE;
  session.m_strProxyUserName = "user";
  session.m_strProxyPassword = "secret";

  ASSERT_EQ(HttpExchange(session), HX_OK);
  std::lock_guard<std::mutex> g(lock);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 46), "GET http://origin.invalid:8080/file HTTP/1.1\r\n") << lines[0];
  EXPECT_NE(lines[0].find("\r\nProxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"), std::string::npos);
  EXPECT_EQ(lines[1].substr(0, 52), "GET http://origin.invalid:8080/moved/file HTTP/1.1\r\n") << lines[1];
}

TEST(HttpExchange, LongHeaderLinesAreStoredWhole) {
  // 2500 bytes come in three pieces; a line of exactly 1023 bytes comes as
  // a piece and an empty line, which must not end the header.
  for (std::size_t length : {2500u, 1023u, 1022u, 1024u, 2046u}) {
    const std::string longLine = "X-Long: " + std::string(length - 8, 'a');
    const std::string header = "HTTP/1.1 200 OK\r\n" + longLine + "\r\nContent-Length: 3\r\n";
    Responder r({header + "\r\nabc"});
    CHttpDownload session;
    Aim(session, Url(r, "/f"));
    EXPECT_EQ(HttpExchange(session), HX_OK) << length;
    EXPECT_EQ(session.m_strResponseHeader, header) << length;
    EXPECT_EQ(session.m_nContentLength, 3u) << length;
  }
}

TEST(HttpExchange, SilentServerIsTransientWithinTheReceiveLimit) {
  ScriptedServer server([](loopback::PeerSocket fd, int) {
    loopback::ReadRequestHeader(fd);
    loopback::ReadExactly(fd, 1, 3000);  // says nothing until the client gives up
  });
  CHttpDownload session;
  Aim(session, Url(server, "/f"));
  session.m_nReceiveTimeout = 300;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpExchange(session), HX_TRANSIENT);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  EXPECT_GE(ms.count(), 250);
  EXPECT_LT(ms.count(), 2000);
  session.CloseConnection();
}

TEST(HttpExchange, NoKindOfConnectionFailsWithoutConnecting) {
  Responder r({"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"});
  for (std::int32_t type : {2, 6, -1}) {
    CHttpDownload session;
    Aim(session, Url(r, "/f"));
    session.m_nProxyType = type;
    session.m_strProxyHost = "127.0.0.1";
    session.m_nProxyPort = r.port();
    EXPECT_EQ(HttpExchange(session), HX_FAILED) << type;
    EXPECT_NE(session.m_hSocket, INVALID_SOCKET) << type;
  }
  EXPECT_EQ(r.connections(), 0);
}

TEST(HttpExchange, StopRequestEndsBeforeConnecting) {
  Responder r({"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"});
  CHttpDownload session;
  Aim(session, Url(r, "/f"));
  session.m_bStop = TRUE;
  EXPECT_EQ(HttpExchange(session), HX_STOPPED);
  EXPECT_EQ(r.connections(), 0);
}

TEST(HttpExchange, UnreachableServersAreTransient) {
  loopback::Listener closed;
  const std::uint16_t port = closed.port();
  closed.Close();
  for (const std::string& url : {"http://127.0.0.1:" + std::to_string(port) + "/f", std::string("http://nowhere.invalid/f")}) {
    CHttpDownload session;
    Aim(session, url);
    EXPECT_EQ(HttpExchange(session), HX_TRANSIENT) << url;
  }
}

TEST(HttpExchange, RedirectCircleEndsAfterTwentyFollowed) {
  Responder r({"HTTP/1.1 302 Found\r\nLocation: /again\r\n\r\n"});
  CHttpDownload session;
  Aim(session, Url(r, "/start"));
  EXPECT_EQ(HttpExchange(session), HX_FAILED);
  EXPECT_EQ(r.connections(), 1 + HX_MAX_RESTARTS);
}

TEST(HttpExchange, TwentyRedirectsAreFollowed) {
  ScriptedServer server([](loopback::PeerSocket fd, int index) {
    loopback::ReadRequestHeader(fd);
    loopback::SendAll(fd, index < HX_MAX_RESTARTS ? "HTTP/1.1 302 Found\r\nLocation: /next\r\n\r\n"
                                                  : "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  });
  CHttpDownload session;
  Aim(session, Url(server, "/start"));
  EXPECT_EQ(HttpExchange(session), HX_OK);
}

TEST(HttpExchange, EndlessHeaderFailsPastItsBound) {
  std::atomic<std::size_t> sent{0};
  ScriptedServer server([&](loopback::PeerSocket fd, int) {
    loopback::ReadRequestHeader(fd);
    loopback::SetSendTimeout(fd, 2000);
    const std::string line = "X-More: " + std::string(990, 'm') + "\r\n";
    if (!loopback::SendAll(fd, "HTTP/1.1 200 OK\r\n")) return;
    // Bounded: 16 MiB at most, and the client hangs up long before.
    for (int i = 0; i < 16 * 1024 && loopback::SendAll(fd, line); ++i) sent += line.size();
  });
  CHttpDownload session;
  Aim(session, Url(server, "/f"));
  EXPECT_EQ(HttpExchange(session), HX_FAILED);
  session.CloseConnection();
  // What the client took is its bound; the rest sat in socket buffers.
  EXPECT_GT(sent.load(), HX_MAX_HEADER_BYTES);
}

TEST(HttpExchange, LocationWithControlBytesNeverReachesARequest) {
  for (const char* location : {"/a\rInjected: yes", "/a\x01" "b", "http://127.0.0.1:1/\x7f"}) {
    Responder r({std::string("HTTP/1.1 302 Found\r\nLocation: ") + location + "\r\n\r\n"});
    CHttpDownload session;
    Aim(session, Url(r, "/f"));
    EXPECT_EQ(HttpExchange(session), HX_FAILED) << location;
    EXPECT_EQ(r.connections(), 1) << location;
  }
}

TEST(HttpExchange, Socks5BoundNameIsConsumedBeforeTheHeader) {
  ScriptedServer proxy([](loopback::PeerSocket fd, int) {
    if (loopback::ReadExactly(fd, 3) != std::string("\5\1\0", 3)) return;
    loopback::SendAll(fd, std::string("\5\0", 2));
    if (loopback::ReadExactly(fd, 10) != std::string("\5\1\0\1\x7f\0\0\1\x1f\x90", 10)) return;
    // The reply and the server's answer in one packet: only the reply's
    // own bytes may be taken by the handshake.
    std::string reply("\5\0\0\3\x0b", 5);
    reply += "proxy.local";
    reply += std::string("\x1f\x90", 2);
    loopback::SendAll(fd, reply + "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody");
    loopback::ReadRequestHeader(fd);
  });
  CHttpDownload session;
  Aim(session, "http://127.0.0.1:8080/f");
  session.m_nProxyType = PROXY_SOCKS5;
  session.m_strProxyHost = "127.0.0.1";
  session.m_nProxyPort = proxy.port();
  ASSERT_EQ(HttpExchange(session), HX_OK);
  EXPECT_EQ(session.m_strResponseHeader, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n");
  EXPECT_EQ(session.m_nContentLength, 4u);
}
