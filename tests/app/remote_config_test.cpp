// The configuration service, served for real on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>

#include "app/globals.h"
#include "app/remote_config.h"
#include "support/support.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kDefaultOfficial = TOLVANE_OFFICIAL_URL;
const std::string kDefaultReport =
    kDefaultOfficial + "/dss/statvx/?key_name=点击上报&c2=Quillane&c3=Quillane&d=game&t=2&v=1427160330";

std::string Route(const std::string& body, int status = 200) {
  std::string escaped;
  for (char c : body) {
    if (c == '"' || c == '\\') escaped += '\\';
    if (c == '\r') { escaped += "\\r"; continue; }
    if (c == '\n') { escaped += "\\n"; continue; }
    escaped += c;
  }
  return "{\"status\": " + std::to_string(status) + ", \"body\": \"" + escaped + "\"}";
}

class RemoteConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      m_env.Unset(v);
    g_strAppName = "TestLauncher";
    g_strOfficialUrl = "stale";
    g_strReportUrl = "stale";
    g_strUpdateUrl.clear();
  }
  ScopedEnv m_env;
};

struct Expect {
  std::string official = kDefaultOfficial;
  std::string update;
  std::string report = kDefaultReport;
};

struct Case {
  const char* name;
  std::string route;
  Expect expect;
};

const char kAll[] =
    R"(<config><url officialUrl="http%3A%2F%2Fofficial.test%2Fa%2Fb+c" )"
    R"(updateUrl="http://update.test/up?v=" AdobeFlashUrl="http://stats.test/r?k=%E7%82%B9&amp;x=1"/></config>)";

}  // namespace

TEST_F(RemoteConfig, AnswersOfTheService) {
  const Case cases[] = {
      {"all three, decoded", Route(kAll),
       {"http://official.test/a/b c", "http://update.test/up?v=", "http://stats.test/r?k=点&x=1"}},
      {"declaration and comment before the root",
       Route(R"(<?xml version="1.0" encoding="UTF-8"?><!-- c --><cfg><url officialUrl="o" updateUrl="u" AdobeFlashUrl="r"/></cfg>)"),
       {"o", "u", "r"}},
      {"split over lines, a value broken at a line end",
       Route("<config>\r\n  <url officialUrl=\"http://offi\r\ncial.test/\"\n updateUrl=\"u\" AdobeFlashUrl=\"r\"/>\r\n</config>\r\n"),
       {"http://official.test/", "u", "r"}},
      {"url one level deeper", Route(R"(<config><inner><url officialUrl="o" updateUrl="u" AdobeFlashUrl="r"/></inner></config>)"), {}},
      {"only the second top-level element has url",
       Route(R"(<first/><second><url officialUrl="o" updateUrl="u" AdobeFlashUrl="r"/></second>)"), {}},
      {"two url children: the first counts",
       Route(R"(<c><url officialUrl="o1" updateUrl="u1" AdobeFlashUrl="r1"/><url officialUrl="o2" updateUrl="u2" AdobeFlashUrl="r2"/></c>)"),
       {"o1", "u1", "r1"}},
      {"error page with a url element",
       Route(R"(<html><url officialUrl="o" updateUrl="u" AdobeFlashUrl="r"/></html>)", 500), {"o", "u", "r"}},
      {"error page without one", Route("<html><body><h1>Not Found</h1></body></html>", 404), {}},
      {"not XML", Route("hello, world"), {}},
      {"empty", Route(""), {}},
      {"missing attributes leave the strings as they were", Route(R"(<c><url updateUrl="u"/></c>)"),
       {kDefaultOfficial, "u", kDefaultReport}},
      {"empty values empty the strings", Route(R"(<c><url officialUrl="" updateUrl="" AdobeFlashUrl=""/></c>)"),
       {"", "", ""}},
      {"a decoded zero byte ends the value", Route(R"(<c><url officialUrl="http://o%00tail" updateUrl="u" AdobeFlashUrl="r"/></c>)"),
       {"http://o", "u", "r"}},
      {"redirect followed", R"({"status": 302, "headers": {"Location": "/all/"}})",
       {"http://official.test/a/b c", "http://update.test/up?v=", "http://stats.test/r?k=点&x=1"}},
      {"answer larger than the limit fails the fetch",
       Route(std::string(R"(<c><url officialUrl="o" updateUrl="u" AdobeFlashUrl="r"/></c>)") + std::string(1100000, ' ')),
       {}},
  };
  std::string routes = "{\"/all/\": " + Route(kAll);
  for (std::size_t i = 0; i < std::size(cases); ++i)
    routes += ",\n\"/case" + std::to_string(i) + "/\": " + cases[i].route;
  routes += "}";
  HttpPeer peer(routes);

  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SetUp();
    LoadRemoteConfig(peer.Url("/case" + std::to_string(i) + "/"));
    EXPECT_EQ(g_strOfficialUrl, cases[i].expect.official) << cases[i].name;
    EXPECT_EQ(g_strUpdateUrl, cases[i].expect.update) << cases[i].name;
    EXPECT_EQ(g_strReportUrl, cases[i].expect.report) << cases[i].name;
  }
  std::vector<std::string> requests = peer.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_NE(requests[0].find(R"("User-Agent": "TestLauncher")"), std::string::npos) << requests[0];
}

TEST_F(RemoteConfig, RefusedConnectionKeepsDefaultsQuickly) {
  std::string url = "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/api/";

  std::string text = "kept";
  auto t0 = Clock::now();
  EXPECT_FALSE(FetchUrlText(url, text));
  EXPECT_EQ(text, "kept");
  LoadRemoteConfig(url);
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3));
  EXPECT_EQ(g_strOfficialUrl, kDefaultOfficial);
  EXPECT_EQ(g_strReportUrl, kDefaultReport);
  EXPECT_EQ(g_strUpdateUrl, "");
}

TEST_F(RemoteConfig, SilentServiceCannotHoldStartUp) {
  HttpPeer peer(R"({"/api/": {"hang": true}})");
  auto t0 = Clock::now();
  LoadRemoteConfig(peer.Url("/api/"));
  auto elapsed = Clock::now() - t0;
  EXPECT_LT(elapsed, std::chrono::seconds(40));
  EXPECT_GE(elapsed, std::chrono::seconds(5));  // it did wait for an answer a while
  EXPECT_EQ(g_strOfficialUrl, kDefaultOfficial);
  EXPECT_EQ(g_strReportUrl, kDefaultReport);
  EXPECT_EQ(peer.Requests().size(), 1u);
}

TEST_F(RemoteConfig, FetchAppendsBodyWithoutLineBreaksWhateverTheStatus) {
  HttpPeer peer(R"({"/t/": {"status": 404, "body": "line one\r\nline two\nend\r"}})");
  std::string text = "x:";
  EXPECT_TRUE(FetchUrlText(peer.Url("/t/"), text));
  EXPECT_EQ(text, "x:line oneline twoend");
}

// libcurl refuses an address with a space or a control byte before it sends
// anything, and UrlDecode makes a space of every '+': such a report address
// must still be requested, with only those bytes encoded.
TEST_F(RemoteConfig, AddressesWithSpacesAndControlBytesAreRequested) {
  HttpPeer peer(R"({"/r/": {"body": "ok"}})");
  const std::string base = peer.Url("/r/");
  const struct {
    std::string url, target;
  } cases[] = {
      {base + "?q=a b", "/r/?q=a%20b"},
      {base + "?q=\t\x01\x1f\x7f|", "/r/?q=%09%01%1F%7F|"},
      {base + "?k=\xE7\x82\xB9&x=%41", "/r/?k=\xE7\x82\xB9&x=%41"},  // everything else as it is
  };
  for (const auto& c : cases) {
    std::string text;
    EXPECT_TRUE(FetchUrlText(c.url, text)) << c.url;
  }

  // The whole road: a '+' in the configured report address.
  HttpPeer service(R"({"/api/": {"body": "<c><url AdobeFlashUrl=\")" + base + R"(?k=a+b%0Ac\"/></c>"}})");
  LoadRemoteConfig(service.Url("/api/"));
  EXPECT_EQ(g_strReportUrl, base + "?k=a b\nc");
  std::string body;
  EXPECT_TRUE(FetchUrlText(g_strReportUrl, body));
  EXPECT_EQ(body, "ok");

  std::vector<std::string> requests = peer.Requests();
  ASSERT_EQ(requests.size(), std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i)
    EXPECT_NE(requests[i].find("\"target\": \"" + cases[i].target + "\""), std::string::npos) << requests[i];
  EXPECT_NE(requests.back().find(R"("target": "/r/?k=a%20b%0Ac")"), std::string::npos) << requests.back();
}
