// An untrusted response header, and the same bytes as a URL, a date and a
// Content-Range value.
// The first byte picks direct or HTTP-proxy connection, since a redirect
// rewrites the session differently for each.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "http/response.h"
#include "http/session.h"
#include "http/url.h"

namespace {

constexpr std::int64_t kUnsettled = -424242;

void CheckUrl(const std::string& url) {
  std::string host = "old", object = "old";
  std::uint16_t port = 1;
  if (ParseUrl(url, host, port, object)) {
    FUZZ_CHECK(!object.empty() && object[0] == '/');
    FUZZ_CHECK(host.find('/') == std::string::npos);
  } else {
    FUZZ_CHECK(host.empty() && object.empty() && port == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckUrl(bytes);
  ParseHttpDate(bytes, kUnsettled);
  std::uint32_t first = 0, last = 0, total = 0;
  if (ParseContentRange(bytes, first, last, total)) FUZZ_CHECK(first <= last && last < total);
  if (size == 0) return 0;

  CHttpDownload session;
  session.m_strUrl = "http://127.0.0.1:8080/dir/sub/file.bin";
  session.m_strHost = "127.0.0.1";
  session.m_nPort = 8080;
  session.m_strObject = "/dir/sub/file.bin";
  session.m_nProxyType = data[0] & 1 ? PROXY_HTTP : PROXY_DIRECT;
  const std::string header = bytes.substr(1);
  std::string value;
  if (FindHeaderField(header, "ETag", value)) {
    FUZZ_CHECK(value.find("\r\n") == std::string::npos);
    FUZZ_CHECK(value.size() < header.size());
  }

  std::int32_t status = -1, contentLength = -1;
  std::int64_t lastModified = kUnsettled;
  const std::int32_t rc = ParseResponseHeader(session, header, status, contentLength, lastModified);
  FUZZ_CHECK(rc >= RP_OK && rc <= RP_NOTFOUND);
  FUZZ_CHECK(lastModified != kUnsettled);
  const auto code = static_cast<std::uint32_t>(status);
  switch (rc) {
    case RP_OK:
      FUZZ_CHECK(code < 300);
      break;
    case RP_RETRY:
      FUZZ_CHECK(code >= 500);
      break;
    case RP_NOTFOUND:
      FUZZ_CHECK(status == 404);
      break;
    case RP_REDIRECT:
      FUZZ_CHECK(code >= 300 && code <= 399);
      FUZZ_CHECK(session.m_strReferer == "http://127.0.0.1:8080/dir/sub/file.bin");
      FUZZ_CHECK(!session.m_strObject.empty() && session.m_strObject[0] == '/');
      break;
    default:
      break;
  }
  // Only a redirect may touch the session's address.
  if (code < 300 || code > 399) {
    FUZZ_CHECK(session.m_strUrl == "http://127.0.0.1:8080/dir/sub/file.bin");
    FUZZ_CHECK(session.m_strHost == "127.0.0.1" && session.m_nPort == 8080);
  }
  return 0;
}
