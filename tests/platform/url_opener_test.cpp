// The URL opener of the system (libcurl or WinINet) against loopback
// servers of the test's own: its limits, its redirects, what it keeps.
#include "platform/url_opener.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "support/support.h"

using loopback::Clock;
using loopback::MillisecondsSince;
using loopback::PeerSocket;
using platform::OpenUrlText;
using platform::UrlOpenerLimits;

namespace {

std::string Answer(const std::string& status, const std::string& body, const std::string& headers = "") {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers +
         "Connection: close\r\n\r\n" + body;
}

std::string Redirect(const std::string& location) { return Answer("302 Found", "", "Location: " + location + "\r\n"); }

// The request line's target: "GET /a?b HTTP/1.1" gives "/a?b".
std::string TargetOf(const std::string& request) {
  const std::size_t start = request.find(' ');
  const std::size_t end = request.find(' ', start + 1);
  return start == std::string::npos || end == std::string::npos ? std::string() : request.substr(start + 1, end - start - 1);
}

// Answers each request by its target and keeps the request headers.
class Site {
 public:
  using Route = std::function<std::string(const std::string& target)>;
  explicit Site(Route route)
      : m_route(std::move(route)), m_server([this](PeerSocket fd, int) {
          const std::string request = loopback::ReadRequestHeader(fd);
          {
            std::lock_guard<std::mutex> g(m_lock);
            m_requests.push_back(request);
          }
          loopback::SendAll(fd, m_route(TargetOf(request)));
        }) {}
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_server.port()) + path; }
  std::vector<std::string> Requests() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_requests;
  }

 private:
  Route m_route;
  mutable std::mutex m_lock;
  std::vector<std::string> m_requests;
  loopback::ScriptedServer m_server;
};

class UrlOpener : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      m_env.Unset(v);
  }
  testing_support::ScopedEnv m_env;
};

}  // namespace

TEST_F(UrlOpener, AppendsTheBodyWithoutLineBreaksWhateverTheStatus) {
  Site site([](const std::string& target) {
    if (target == "/ok") return Answer("200 OK", "line one\r\nline two\nend\r");
    if (target == "/missing") return Answer("404 Not Found", "<h1>Not\r\nFound</h1>");
    return Answer("500 Internal Server Error", "");
  });
  const struct {
    const char* path;
    std::string expected;
    long status;
  } cases[] = {
      {"/ok", "x:line oneline twoend", 200},
      {"/missing", "x:<h1>NotFound</h1>", 404},
      {"/broken", "x:", 500},
  };
  for (const auto& c : cases) {
    std::string text = "x:";
    long status = -1;
    EXPECT_TRUE(OpenUrlText(site.Url(c.path), "TestLauncher", text, {}, &status)) << c.path;
    EXPECT_EQ(text, c.expected) << c.path;
    EXPECT_EQ(status, c.status) << c.path;
  }
  const std::vector<std::string> requests = site.Requests();
  ASSERT_EQ(requests.size(), std::size(cases));
  for (const std::string& r : requests) {
    EXPECT_EQ(r.rfind("GET ", 0), 0u) << r;
    EXPECT_NE(r.find("\r\nUser-Agent: TestLauncher\r\n"), std::string::npos) << r;
  }
}

TEST_F(UrlOpener, FollowsRedirectsUpToTheLimit) {
  // /hop/N answers with a redirect to /hop/N-1 (every other one absolute),
  // /hop/0 with the body.
  std::string base;
  Site site([&base](const std::string& target) {
    if (target.rfind("/hop/", 0) != 0) return Answer("404 Not Found", "");
    const int n = std::stoi(target.substr(5));
    if (n == 0) return Answer("200 OK", "arrived");
    const std::string next = "/hop/" + std::to_string(n - 1);
    return Redirect(n % 2 ? next : base + next);
  });
  base = site.Url("");
  UrlOpenerLimits limits;
  limits.nMaxRedirects = 3;
  struct Case {
    int hops;
    bool opened;
  };
  for (const Case& c : {Case{0, true}, Case{1, true}, Case{3, true}, Case{4, false}, Case{9, false}}) {
    std::string text = "kept";
    long status = -1;
    EXPECT_EQ(OpenUrlText(site.Url("/hop/" + std::to_string(c.hops)), "t", text, limits, &status), c.opened) << c.hops;
    EXPECT_EQ(text, c.opened ? "keptarrived" : "kept") << c.hops;
    EXPECT_EQ(status, c.opened ? 200 : 302) << "the last answer's: " << c.hops;
  }
  // The chain stops where the limit says: 4 hops ask for 4 addresses, and
  // the last answer is not followed.
  std::size_t before = site.Requests().size();
  std::string text;
  EXPECT_FALSE(OpenUrlText(site.Url("/hop/4"), "t", text, limits));
  EXPECT_EQ(site.Requests().size() - before, 4u);
}

TEST_F(UrlOpener, RedirectsOnlyToWebAddresses) {
  // Nothing may be asked of it: it would never answer.
  const loopback::Listener silent;
  const std::string elsewhere = "127.0.0.1:" + std::to_string(silent.port());
  for (const std::string& location : {std::string("file:///etc/passwd"), "ftp://" + elsewhere + "/x", "gopher://" + elsewhere + "/"}) {
    Site site([&location](const std::string&) { return Redirect(location); });
    std::string text = "kept";
    EXPECT_FALSE(OpenUrlText(site.Url("/"), "t", text)) << location;
    EXPECT_EQ(text, "kept") << location;
  }
  std::string text;
  EXPECT_FALSE(OpenUrlText("ftp://" + elsewhere + "/", "t", text));
  EXPECT_FALSE(OpenUrlText("", "t", text));
}

TEST_F(UrlOpener, BodyOverTheLimitOrCutShortFails) {
  const std::string full(1000, 'b');
  Site site([&full](const std::string& target) {
    if (target == "/exact") return Answer("200 OK", full);
    if (target == "/over") return Answer("200 OK", full + "b");
    // Announced longer than it is, and the connection ends.
    return "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\nConnection: close\r\n\r\n" + full;
  });
  UrlOpenerLimits limits;
  limits.nMaxBodyBytes = 1000;
  // Line breaks count: they were received.
  for (const auto& [path, opened] : {std::pair{"/exact", true}, std::pair{"/over", false}, std::pair{"/cut", false}}) {
    std::string text;
    EXPECT_EQ(OpenUrlText(site.Url(path), "t", text, limits), opened) << path;
    EXPECT_EQ(text, opened ? full : "") << path;
  }
}

TEST_F(UrlOpener, SilentOrDawdlingServerEndsAtTheOverallLimit) {
  std::atomic<bool> stop{false};
  const auto waitForStop = [&stop](int ms) {
    const Clock::time_point start = Clock::now();
    while (!stop && MillisecondsSince(start) < ms) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  // One says nothing after the request; the others send their header or
  // their body a byte at a time, each one well within any single wait.
  const auto dawdle = [&](PeerSocket fd, const std::string& head, const std::string& rest) {
    loopback::ReadRequestHeader(fd);
    if (!loopback::SendAll(fd, head)) return;
    for (std::size_t i = 0; i < rest.size() && !stop; ++i) {
      waitForStop(100);
      if (!loopback::SendAll(fd, rest.substr(i, 1))) return;
    }
  };
  loopback::ScriptedServer silent([&](PeerSocket fd, int) {
    loopback::ReadRequestHeader(fd);
    waitForStop(10000);
  });
  loopback::ScriptedServer slowHeader([&](PeerSocket fd, int) {
    dawdle(fd, "HTTP/1.1 200 OK\r\n", "X-Padding: " + std::string(100, 'p') + "\r\nContent-Length: 0\r\n\r\n");
  });
  loopback::ScriptedServer slowBody([&](PeerSocket fd, int) {
    dawdle(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", std::string(100, 'x'));
  });
  UrlOpenerLimits limits;
  limits.nTotalTimeoutMs = 1000;
  for (const loopback::ScriptedServer* server : {&silent, &slowHeader, &slowBody}) {
    std::string text = "kept";
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(OpenUrlText("http://127.0.0.1:" + std::to_string(server->port()) + "/", "t", text, limits));
    const long long elapsed = MillisecondsSince(start);
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 3000);
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(server->connections(), 1);
  }
  stop = true;
}

TEST_F(UrlOpener, ConnectLimitHoldsAgainstAListenerThatNeverAccepts) {
  loopback::FullListener full;
  UrlOpenerLimits limits;
  limits.nConnectTimeoutMs = 300;
  std::string text = "kept";
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(OpenUrlText("http://127.0.0.1:" + std::to_string(full.port()) + "/", "t", text, limits));
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 280);
  EXPECT_LT(elapsed, 3000);
  EXPECT_EQ(text, "kept");
}

TEST_F(UrlOpener, RefusedConnectionFailsAtOnce) {
  std::string url;
  {
    const loopback::Listener closed;
    url = "http://127.0.0.1:" + std::to_string(closed.port()) + "/";
  }
  std::string text = "kept";
  long status = -1;
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(OpenUrlText(url, "t", text, {}, &status));
  EXPECT_LT(MillisecondsSince(start), 3000);
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(status, 0) << "no answer came";
}

TEST_F(UrlOpener, SpacesAndControlBytesGoOutEncodedTheRestAsItIs) {
  Site site([](const std::string&) { return Answer("200 OK", "ok"); });
  const struct {
    std::string path, target;
  } cases[] = {
      {"/r?q=a b", "/r?q=a%20b"},
      {"/r?q=\t\x01\x1f\x7f|", "/r?q=%09%01%1F%7F|"},
      {"/r?k=\xE7\x82\xB9&x=%41&y=~", "/r?k=\xE7\x82\xB9&x=%41&y=~"},  // everything else as it is
  };
  for (const auto& c : cases) {
    std::string text;
    EXPECT_TRUE(OpenUrlText(site.Url(c.path), "t", text)) << c.path;
    EXPECT_EQ(text, "ok") << c.path;
  }
  const std::vector<std::string> requests = site.Requests();
  ASSERT_EQ(requests.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(TargetOf(requests[i]), cases[i].target);
}
