#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "http/url.h"
#include "printable.h"

namespace {

struct UrlCase {
  const char* url;
  BOOL parsed;
  const char* host;
  std::uint16_t port;
  const char* object;
};

void PrintTo(const UrlCase& c, std::ostream* os) { *os << '"' << Printable(c.url) << '"'; }

class ParseUrlTest : public testing::TestWithParam<UrlCase> {};

TEST_P(ParseUrlTest, SplitsOrRejects) {
  const UrlCase& c = GetParam();
  // Leftovers of an earlier parse must not survive a rejection.
  std::string host = "stale";
  std::uint16_t port = 1234;
  std::string object = "/stale";
  EXPECT_EQ(ParseUrl(c.url, host, port, object), c.parsed);
  EXPECT_EQ(host, c.host);
  EXPECT_EQ(port, c.port);
  EXPECT_EQ(object, c.object);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ParseUrlTest,
    testing::Values(
        // Only the scheme is compared without regard to case.
        UrlCase{"HTTP://Srv/Dir/File.zip", TRUE, "Srv", 80, "/Dir/File.zip"},
        UrlCase{"hTtP://srv/x", TRUE, "srv", 80, "/x"},
        UrlCase{"http://srv", FALSE, "", 0, ""},
        UrlCase{"http://srv/", TRUE, "srv", 80, "/"},
        UrlCase{"http://", FALSE, "", 0, ""},
        UrlCase{"https://srv/x", FALSE, "", 0, ""},
        UrlCase{"ftp://srv/x", FALSE, "", 0, ""},
        UrlCase{"http://srv:8080/a?b=c#d", TRUE, "srv", 8080, "/a?b=c#d"},
        UrlCase{"http://srv:/x", TRUE, "srv", 0, "/x"},
        UrlCase{"http://srv:abc/x", TRUE, "srv", 0, "/x"},
        UrlCase{"http://srv:8080abc/x", TRUE, "srv", 8080, "/x"},
        // Ports keep their low 16 bits.
        UrlCase{"http://srv:65536/x", TRUE, "srv", 0, "/x"},
        UrlCase{"http://srv:65616/x", TRUE, "srv", 80, "/x"},
        UrlCase{"http://srv:-1/x", TRUE, "srv", 65535, "/x"},
        // User information is not recognised.
        UrlCase{"http://u:p@srv/x", TRUE, "u", 0, "/x"},
        UrlCase{"http:///x", TRUE, "", 80, "/x"},
        UrlCase{" \t http://srv/x \r\n", TRUE, "srv", 80, "/x"},
        UrlCase{"http://srv/a b", TRUE, "srv", 80, "/a b"},
        UrlCase{"http://s rv/x", TRUE, "s rv", 80, "/x"},
        UrlCase{"http ://srv/x", FALSE, "", 0, ""},
        UrlCase{"srv/x", FALSE, "", 0, ""},
        UrlCase{"", FALSE, "", 0, ""},
        // The first "://" decides the scheme.
        UrlCase{"x/http://srv/x", FALSE, "", 0, ""},
        UrlCase{"http://srv/x?u=http://other/", TRUE, "srv", 80, "/x?u=http://other/"}));

TEST(ParseUrl, HttpsWhenTheCallerTakesIt) {
  struct Case {
    const char* url;
    BOOL parsed;
    BOOL secure;
    std::uint16_t port;
  } cases[] = {
      {"https://srv/x", TRUE, TRUE, 443},
      {"HTTPS://srv:8443/x", TRUE, TRUE, 8443},
      {"http://srv/x", TRUE, FALSE, 80},
      {"https://srv", FALSE, 7, 0},  // a rejection leaves secure alone
      {"httpss://srv/x", FALSE, 7, 0},
  };
  for (const Case& c : cases) {
    std::string host, object;
    std::uint16_t port = 1;
    BOOL secure = 7;
    EXPECT_EQ(ParseUrl(c.url, host, port, object, secure), c.parsed) << c.url;
    EXPECT_EQ(secure, c.secure) << c.url;
    EXPECT_EQ(port, c.port) << c.url;
  }
}

}  // namespace
