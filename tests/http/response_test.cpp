#include <gtest/gtest.h>

#include <cstdint>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>

#include "http/response.h"
#include "http/session.h"
#include "http/url.h"
#include "printable.h"
#include "support/support.h"

namespace {

struct Parsed {
  std::int32_t result = -99;
  std::int32_t status = -99;
  std::int32_t contentLength = -99;
  std::int64_t lastModified = -99;
  std::int64_t before = 0;  // the clock around the call, for "the current time"
  std::int64_t after = 0;
};

Parsed Parse(CHttpDownload& session, const std::string& header) {
  Parsed p;
  p.before = std::time(nullptr);
  p.result = ParseResponseHeader(session, header, p.status, p.contentLength, p.lastModified);
  p.after = std::time(nullptr);
  return p;
}

struct StatusCase {
  const char* header;
  std::int32_t result;
  std::int32_t status;
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << '"' << Printable(c.header) << '"'; }

class StatusTest : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusTest, Classifies) {
  CHttpDownload session;
  session.m_strUrl = "http://srv/dir/file";
  ParseUrl(session.m_strUrl, session.m_strHost, session.m_nPort, session.m_strObject);
  Parsed p = Parse(session, GetParam().header);
  EXPECT_EQ(p.result, GetParam().result);
  EXPECT_EQ(p.status, GetParam().status);
}

// Every line carries both a length and a location, so only the status decides.
#define WITH_BOTH "\r\nContent-Length: 10\r\nLocation: /moved\r\n"

INSTANTIATE_TEST_SUITE_P(
    Codes, StatusTest,
    testing::Values(StatusCase{"HTTP/1.1 0 Zero" WITH_BOTH, RP_OK, 0},
                    StatusCase{"HTTP/1.1 100 Continue" WITH_BOTH, RP_OK, 100},
                    StatusCase{"HTTP/1.1 100 Continue\r\n", RP_FAILED, 100},
                    StatusCase{"HTTP/1.1 200 OK" WITH_BOTH, RP_OK, 200},
                    StatusCase{"HTTP/1.1 206 Partial Content" WITH_BOTH, RP_OK, 206},
                    StatusCase{"HTTP/1.1 299 X" WITH_BOTH, RP_OK, 299},
                    StatusCase{"HTTP/1.1 300 Multiple" WITH_BOTH, RP_REDIRECT, 300},
                    StatusCase{"HTTP/1.1 301 Moved Permanently" WITH_BOTH, RP_REDIRECT, 301},
                    StatusCase{"HTTP/1.1 302 Found" WITH_BOTH, RP_REDIRECT, 302},
                    StatusCase{"HTTP/1.1 399 X" WITH_BOTH, RP_REDIRECT, 399},
                    StatusCase{"HTTP/1.1 302 Found\r\nContent-Length: 10\r\n", RP_FAILED, 302},
                    StatusCase{"HTTP/1.1 400 Bad Request" WITH_BOTH, RP_FAILED, 400},
                    StatusCase{"HTTP/1.1 403 Forbidden" WITH_BOTH, RP_FAILED, 403},
                    StatusCase{"HTTP/1.1 404 Not Found" WITH_BOTH, RP_NOTFOUND, 404},
                    StatusCase{"HTTP/1.1 416 Range Not Satisfiable" WITH_BOTH, RP_FAILED, 416},
                    StatusCase{"HTTP/1.1 499 X" WITH_BOTH, RP_FAILED, 499},
                    StatusCase{"HTTP/1.1 500 Internal Server Error" WITH_BOTH, RP_RETRY, 500},
                    StatusCase{"HTTP/1.1 502 Bad Gateway" WITH_BOTH, RP_RETRY, 502},
                    StatusCase{"HTTP/1.1 503 Service Unavailable" WITH_BOTH, RP_RETRY, 503},
                    // Compared unsigned: a negative code is above 500.
                    StatusCase{"HTTP/1.1 -1 Negative" WITH_BOTH, RP_RETRY, -1},
                    StatusCase{"HTTP/1.1 abc Words" WITH_BOTH, RP_OK, 0},
                    StatusCase{"  HTTP/1.1 404 Not Found  " WITH_BOTH, RP_NOTFOUND, 404},
                    // A reason phrase must follow the code.
                    StatusCase{"HTTP/1.1 200" WITH_BOTH, RP_FAILED, 0},
                    StatusCase{"HTTP/1.1 200 " WITH_BOTH, RP_FAILED, 0},
                    StatusCase{"HTTP/1.1" WITH_BOTH, RP_FAILED, 0},
                    StatusCase{"\r\nContent-Length: 10\r\n", RP_FAILED, 0},
                    StatusCase{"HTTP/1.1 200 OK", RP_FAILED, 0},
                    StatusCase{"HTTP/1.1 200 OK\nContent-Length: 10\n", RP_FAILED, 0},
                    StatusCase{"", RP_FAILED, 0}));

struct LengthCase {
  const char* lines;  // after the status line
  std::int32_t result;
  std::int32_t contentLength;
};

void PrintTo(const LengthCase& c, std::ostream* os) { *os << '"' << Printable(c.lines) << '"'; }

class ContentLengthTest : public testing::TestWithParam<LengthCase> {};

TEST_P(ContentLengthTest, FirstOccurrenceAnywhere) {
  CHttpDownload session;
  Parsed p = Parse(session, std::string("HTTP/1.1 200 OK\r\n") + GetParam().lines);
  EXPECT_EQ(p.result, GetParam().result);
  EXPECT_EQ(p.contentLength, GetParam().contentLength);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ContentLengthTest,
    testing::Values(LengthCase{"Server: x\r\n", RP_FAILED, 0},
                    LengthCase{"Content-Length: 0\r\n", RP_OK, 0},
                    LengthCase{"Content-Length: 1000\r\n", RP_OK, 1000},
                    LengthCase{"CONTENT-LENGTH: 77\r\n", RP_OK, 77},
                    LengthCase{"cOnTeNt-LeNgTh:\t 12 \t\r\n", RP_OK, 12},
                    LengthCase{"Content-Length : 5\r\n", RP_FAILED, 0},
                    LengthCase{"X-Content-Length: 5\r\nContent-Length: 10\r\n", RP_OK, 5},
                    LengthCase{"X-Note: see content-length:7\r\nContent-Length: 10\r\n", RP_OK, 7},
                    LengthCase{"Content-Length: abc\r\n", RP_OK, 0},
                    LengthCase{"Content-Length: 2147483647\r\n", RP_OK, 2147483647},
                    // Past 31 bits: never wrapped around to a length that looks fine.
                    LengthCase{"Content-Length: 2147483648\r\n", RP_OK, -1},
                    LengthCase{"Content-Length: 4294967396\r\n", RP_OK, -1},
                    LengthCase{"Content-Length: 000000000004294967396\r\n", RP_OK, -1},
                    LengthCase{"Content-Length: 18446744073709551716\r\n", RP_OK, -1},
                    LengthCase{"Content-Length: -4294967291\r\n", RP_OK, -1},
                    LengthCase{"Content-Length: 0002147483647\r\n", RP_OK, 2147483647},
                    // The value must end with a line end.
                    LengthCase{"Content-Length: 5", RP_FAILED, 0}));

constexpr std::int64_t k20110601T100000 = 1306922400;

struct ModifiedCase {
  const char* lines;
  std::int64_t lastModified;  // -1: the current time
};

void PrintTo(const ModifiedCase& c, std::ostream* os) { *os << '"' << Printable(c.lines) << '"'; }

class LastModifiedTest : public testing::TestWithParam<ModifiedCase> {};

TEST_P(LastModifiedTest, DateOrCurrentTime) {
  CHttpDownload session;
  Parsed p;
  {
    // Far from UTC, so that a date read as local time would show.
    testing_support::ScopedEnv env;
    env.Set("TZ", "XYZ-9");
    tzset();
    p = Parse(session, std::string("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n") + GetParam().lines);
  }
  tzset();
  EXPECT_EQ(p.result, RP_OK);
  if (GetParam().lastModified == -1) {
    EXPECT_GE(p.lastModified, p.before);
    EXPECT_LE(p.lastModified, p.after);
  } else {
    EXPECT_EQ(p.lastModified, GetParam().lastModified);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LastModifiedTest,
    testing::Values(ModifiedCase{"Last-Modified: Wed, 01 Jun 2011 10:00:00 GMT\r\n", k20110601T100000},
                    ModifiedCase{"LAST-MODIFIED:wed, 01 jun 2011 10:00:00 gmt\r\n", k20110601T100000},
                    ModifiedCase{"", -1},
                    ModifiedCase{"Last-Modified: yesterday\r\n", -1},
                    ModifiedCase{"Last-Modified:\r\n", -1},
                    ModifiedCase{"Last-Modified: Wed, 41 Jun 2011 10:00:00 GMT\r\n", -1},
                    // Without a line end after it the value is not read.
                    ModifiedCase{"Last-Modified: Wed, 01 Jun 2011 10:00:00 GMT", -1}));

struct DateCase {
  const char* text;
  std::int64_t time;  // kUnsettled: the fallback comes back
};

void PrintTo(const DateCase& c, std::ostream* os) { *os << '"' << Printable(c.text) << '"'; }

constexpr std::int64_t kUnsettled = 123456789;

class HttpDateTest : public testing::TestWithParam<DateCase> {};

TEST_P(HttpDateTest, ReadsAsUtc) {
  {
    testing_support::ScopedEnv env;
    env.Set("TZ", "XYZ+5");
    tzset();
    EXPECT_EQ(ParseHttpDate(GetParam().text, kUnsettled), GetParam().time);
  }
  tzset();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HttpDateTest,
    testing::Values(DateCase{"wed, 01 jun 2011 10:00:00 gmt", k20110601T100000},
                    DateCase{"sun, 06 nov 1994 08:49:37 gmt", 784111777},
                    DateCase{"wed,01 jun 2011 10:00:00", k20110601T100000},
                    DateCase{"wed, 01 jun 2011\t10:00:00 gmt", k20110601T100000},
                    DateCase{"wed, 01 JUN 2011 10:00:00 gmt", k20110601T100000},
                    // No blank after the year: year 2000, the time from the year's digits.
                    DateCase{"wed, 21 oct 2015", 972158700},
                    // An unknown month is January.
                    DateCase{"wed, 21 xyz 2015 07:28:00 gmt", 1421825280},
                    DateCase{"thu, 01 jan 1970 00:00:00 gmt", 0},
                    // One second before 1970 is a time, not a failure.
                    DateCase{"wed, 31 dec 1969 23:59:59 gmt", -1},
                    DateCase{"mon, 01 jan 1900 00:00:00 gmt", -2208988800},
                    DateCase{"mon, 30 feb 2015 00:00:00 gmt", 1425254400},
                    DateCase{"", kUnsettled},
                    DateCase{"wed 01 jun 2011 10:00:00 gmt", kUnsettled},
                    DateCase{"wed,", kUnsettled},
                    DateCase{"wed, 00 jun 2011 10:00:00 gmt", kUnsettled},
                    DateCase{"wed, 32 jun 2011 10:00:00 gmt", kUnsettled},
                    DateCase{"wed, 01 jun 1899 10:00:00 gmt", kUnsettled},
                    DateCase{"wed, 01 jun 2011 24:00:00 gmt", kUnsettled},
                    DateCase{"wed, 01 jun 2011 10:60:00 gmt", kUnsettled},
                    DateCase{"wed, 01 jun 2011 10:00:60 gmt", kUnsettled},
                    DateCase{"wed, 01 jun 2011 -1:00:00 gmt", kUnsettled}));

struct RedirectCase {
  const char* from;
  const char* location;
  std::int32_t result;
  const char* url;
  const char* host;
  std::uint16_t port;
  const char* object;
};

void PrintTo(const RedirectCase& c, std::ostream* os) { *os << '"' << Printable(c.location) << '"'; }

class RedirectTest : public testing::TestWithParam<RedirectCase> {};

TEST_P(RedirectTest, RewritesTheSession) {
  const RedirectCase& c = GetParam();
  CHttpDownload session;
  session.m_strUrl = c.from;
  ASSERT_TRUE(ParseUrl(session.m_strUrl, session.m_strHost, session.m_nPort, session.m_strObject, session.m_bSecure));
  Parsed p = Parse(session, std::string("HTTP/1.1 302 Found\r\nLocation: ") + c.location + "\r\n");
  EXPECT_EQ(p.result, c.result);
  EXPECT_EQ(session.m_strReferer, c.from);
  EXPECT_EQ(session.m_strUrl, c.url);
  EXPECT_EQ(session.m_strHost, c.host);
  EXPECT_EQ(session.m_nPort, c.port);
  EXPECT_EQ(session.m_strObject, c.object);
}

#define FROM "http://srv/dir/sub/file"

INSTANTIATE_TEST_SUITE_P(
    Targets, RedirectTest,
    testing::Values(
        // The target arrives lower-cased.
        RedirectCase{FROM, "http://Other:8081/A.ZIP", RP_REDIRECT, "http://other:8081/a.zip", "other", 8081, "/a.zip"},
        RedirectCase{FROM, "  http://other/x  ", RP_REDIRECT, "http://other/x", "other", 80, "/x"},
        RedirectCase{FROM, "http://other", RP_FAILED, "http://other", "", 0, ""},
        RedirectCase{FROM, "/x", RP_REDIRECT, FROM, "srv", 80, "/x"},
        RedirectCase{"http://srv:8080/dir/file", "/x", RP_REDIRECT, "http://srv:8080/dir/file", "srv", 8080, "/x"},
        RedirectCase{FROM, "\\top\\x", RP_REDIRECT, FROM, "srv", 80, "/top/x"},
        RedirectCase{FROM, "x", RP_REDIRECT, "http://srv/dir/sub/x", "srv", 80, "/dir/sub/x"},
        RedirectCase{FROM, "../x", RP_REDIRECT, "http://srv/dir/x", "srv", 80, "/dir/x"},
        RedirectCase{FROM, "a/../x", RP_REDIRECT, "http://srv/dir/x", "srv", 80, "/dir/x"},
        RedirectCase{FROM, "../../x", RP_REDIRECT, "http://srv/x", "srv", 80, "/x"},
        RedirectCase{FROM, "dir2\\x", RP_REDIRECT, "http://srv/dir/sub/dir2/x", "srv", 80, "/dir/sub/dir2/x"},
        RedirectCase{FROM, "https://srv/x", RP_REDIRECT, "https://srv/x", "srv", 443, "/x"},
        RedirectCase{"https://srv/dir/file", "https://other:8443/x", RP_REDIRECT, "https://other:8443/x", "other", 8443,
                     "/x"},
        RedirectCase{"https://srv/dir/file", "x", RP_REDIRECT, "https://srv/dir/x", "srv", 443, "/dir/x"},
        // Never off TLS: the session keeps where it was.
        RedirectCase{"https://srv/dir/file", "http://srv/x", RP_FAILED, "http://srv/x", "srv", 443, "/dir/file"},
        RedirectCase{"http://srv:8080/dir/file", "x", RP_REDIRECT, "http://srv:8080/dir/x", "srv", 8080, "/dir/x"},
        // More steps up than directories cut into the scheme.
        RedirectCase{"http://srv/f", "../../x", RP_FAILED, "http:/x", "", 0, ""}));

TEST(Redirect, FirstLocationAnywhereCountsAlsoInsideContentLocation) {
  const struct {
    const char* lines;
    const char* object;
  } cases[] = {
      {"Content-Location: /content\r\nLocation: /moved\r\n", "/content"},
      {"Location: /moved\r\nContent-Location: /content\r\n", "/moved"},
  };
  for (const auto& c : cases) {
    CHttpDownload session;
    session.m_strUrl = FROM;
    ParseUrl(session.m_strUrl, session.m_strHost, session.m_nPort, session.m_strObject);
    EXPECT_EQ(Parse(session, std::string("HTTP/1.1 302 Found\r\n") + c.lines).result, RP_REDIRECT) << c.lines;
    EXPECT_EQ(session.m_strObject, c.object) << Printable(c.lines);
  }
}

TEST(Redirect, TrailBytesOfADoubleByteLocaleAreNoSeparators) {
  // In GBK, 0x81 0x5C is one character whose second byte is a backslash,
  // and 0x81 0x41 one whose second byte is an 'A'.
  testing_support::ScopedGbkLocale loc;
  if (!loc.ok()) GTEST_SKIP() << loc.error();
  const struct {
    const char* location;
    const char* url;
    const char* object;
  } cases[] = {
      {"A\x81\x5C" "B\x81\x41\\c", "http://srv/dir/sub/a\x81\x5C" "b\x81\x41/c", "/dir/sub/a\x81\x5C" "b\x81\x41/c"},
      {"\\top\x81\x5C\\x", FROM, "/top\x81\x5C/x"},
      {"../\x81\x5C" "x", "http://srv/dir/\x81\x5C" "x", "/dir/\x81\x5C" "x"},
      {"http://other/\x81\x5C" "a", "http://other/\x81\x5C" "a", "/\x81\x5C" "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Printable(c.location));
    CHttpDownload session;
    session.m_strUrl = FROM;
    ASSERT_TRUE(ParseUrl(session.m_strUrl, session.m_strHost, session.m_nPort, session.m_strObject));
    Parsed p = Parse(session, std::string("HTTP/1.1 302 Found\r\nLocation: ") + c.location + "\r\n");
    EXPECT_EQ(p.result, RP_REDIRECT);
    EXPECT_EQ(Printable(session.m_strUrl), Printable(c.url));
    EXPECT_EQ(Printable(session.m_strObject), Printable(c.object));
  }
}

TEST(Redirect, WithoutLocationLeavesTheSession) {
  CHttpDownload session;
  session.m_strUrl = FROM;
  ParseUrl(session.m_strUrl, session.m_strHost, session.m_nPort, session.m_strObject);
  for (const char* header : {"HTTP/1.1 301 Moved\r\nServer: x\r\n", "HTTP/1.1 301 Moved\r\nLocation: /x"}) {
    SCOPED_TRACE(header);
    EXPECT_EQ(Parse(session, header).result, RP_FAILED);
    EXPECT_EQ(session.m_strReferer, "");
    EXPECT_EQ(session.m_strUrl, FROM);
    EXPECT_EQ(session.m_strObject, "/dir/sub/file");
  }
}

TEST(Redirect, ThroughHttpProxyRootTargetRewritesTheUrl) {
  // The proxy reads the absolute URL from the request line, so it must name
  // the new place; a direct request only needs the object.
  for (auto [from, to] : {std::pair{"HTTP://Srv:8080/dir/file?q", "HTTP://Srv:8080/x/y"},
                          {"http://srv/dir/file", "http://srv/x/y"}}) {
    CHttpDownload session;
    session.m_nProxyType = PROXY_HTTP;
    session.m_strUrl = from;
    ParseUrl(session.m_strUrl, session.m_strHost, session.m_nPort, session.m_strObject);
    std::string host = session.m_strHost;
    std::uint16_t port = session.m_nPort;
    EXPECT_EQ(Parse(session, "HTTP/1.1 302 Found\r\nLocation: /X\\Y\r\n").result, RP_REDIRECT);
    EXPECT_EQ(session.m_strReferer, from);
    EXPECT_EQ(session.m_strUrl, to);
    EXPECT_EQ(session.m_strHost, host);
    EXPECT_EQ(session.m_nPort, port);
    EXPECT_EQ(session.m_strObject, "/x/y");
  }
}

TEST(Redirect, SuccessLeavesTheUrlMembers) {
  CHttpDownload session;
  session.m_strUrl = FROM;
  ParseUrl(session.m_strUrl, session.m_strHost, session.m_nPort, session.m_strObject);
  EXPECT_EQ(Parse(session, "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nLocation: /x\r\n").result, RP_OK);
  EXPECT_EQ(session.m_strReferer, "");
  EXPECT_EQ(session.m_strUrl, FROM);
  EXPECT_EQ(session.m_strObject, "/dir/sub/file");
}

}  // namespace
