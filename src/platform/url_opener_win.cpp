// WinINet, held to the limits of the libcurl opener. WinINet has no
// overall limit of its own: every step gets what is left of it as its
// time-out, and redirects are followed here, so that they can be counted.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "platform/url_opener.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// No cache in between, no cookies kept (libcurl keeps none either), never
// a dialogue, and redirects for the loop below.
constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES |
                             INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET h) : m_h(h) {}
  ~InternetHandle() {
    if (m_h != nullptr) InternetCloseHandle(m_h);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return m_h; }

 private:
  HINTERNET m_h;
};

// What is left until the deadline, in whole milliseconds; false when
// nothing is (WinINet would take a time-out of 0 as none at all).
bool TimeLeft(Clock::time_point deadline, DWORD& ms) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  ms = static_cast<DWORD>(std::min<long long>(left, 0x7FFFFFFF));
  return true;
}

void SetTimeOut(HINTERNET h, DWORD option, DWORD ms) { InternetSetOptionA(h, option, &ms, sizeof ms); }

bool IsWebUrl(const std::string& url) {
  const std::string lower = ToLower(std::string_view(url).substr(0, 8));
  return lower.starts_with("http://") || lower.starts_with("https://");
}

// A header's text; false when the response has none.
bool QueryHeader(HINTERNET request, DWORD query, std::string& value) {
  std::string buffer(256, '\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD length = static_cast<DWORD>(buffer.size());
    DWORD index = 0;
    if (HttpQueryInfoA(request, query, buffer.data(), &length, &index)) {
      value.assign(buffer.data(), length);
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
  }
  return false;
}

bool QueryNumber(HINTERNET request, DWORD query, unsigned long long& value) {
  ULONGLONG number = 0;
  DWORD length = sizeof number;
  DWORD index = 0;
  if (!HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER64, &number, &length, &index)) return false;
  value = number;
  return true;
}

// The Location taken against the address that answered with it.
bool CombineUrl(const std::string& base, const std::string& location, std::string& combined) {
  std::string buffer(base.size() + location.size() + 64, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD length = static_cast<DWORD>(buffer.size());
    // Escaping is UrlForOpener's, so that a redirect goes out as a first address would.
    if (InternetCombineUrlA(base.c_str(), location.c_str(), buffer.data(), &length, ICU_NO_ENCODE)) {
      combined.assign(buffer.data(), length);
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
  }
  return false;
}

bool ReadBody(HINTERNET request, Clock::time_point deadline, std::size_t nMaxBytes, std::string& body) {
  unsigned long long announced = 0;
  const bool hasLength = QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH, announced);
  unsigned long long received = 0;
  char block[16384];
  for (;;) {
    DWORD left = 0;
    if (!TimeLeft(deadline, left)) return false;
    SetTimeOut(request, INTERNET_OPTION_RECEIVE_TIMEOUT, left);
    DWORD n = 0;
    if (!InternetReadFile(request, block, sizeof block, &n)) return false;
    if (n == 0) break;
    received += n;
    if (received > nMaxBytes) return false;
    AppendWithoutLineBreaks(body, block, n);
  }
  // WinINet ends a body that broke off like a whole one; libcurl fails it.
  return !hasLength || received == announced;
}

}  // namespace

bool OpenUrlText(const std::string& url, const std::string& userAgent, std::string& text,
                 const UrlOpenerLimits& limits) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(limits.nTotalTimeoutMs, 0L));
  InternetHandle session(InternetOpenA(userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (session.get() == nullptr) return false;
  std::string current = UrlForOpener(url);
  for (long redirects = 0;; ++redirects) {
    if (!IsWebUrl(current)) return false;
    DWORD left = 0;
    if (!TimeLeft(deadline, left)) return false;
    // Handles take the session's time-outs when they are made.
    SetTimeOut(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT,
               std::min<DWORD>(left, static_cast<DWORD>(std::max(limits.nConnectTimeoutMs, 1L))));
    SetTimeOut(session.get(), INTERNET_OPTION_SEND_TIMEOUT, left);
    SetTimeOut(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, left);
    InternetHandle request(InternetOpenUrlA(session.get(), current.c_str(), nullptr, 0, kOpenFlags, 0));
    if (request.get() == nullptr) return false;
    unsigned long long status = 0;
    if (!QueryNumber(request.get(), HTTP_QUERY_STATUS_CODE, status)) return false;
    std::string location;
    if (status >= 300 && status < 400 && QueryHeader(request.get(), HTTP_QUERY_LOCATION, location)) {
      // A negative limit follows any number, as libcurl's does.
      if (limits.nMaxRedirects >= 0 && redirects >= limits.nMaxRedirects) return false;
      std::string next;
      if (!CombineUrl(current, location, next)) return false;
      current = UrlForOpener(next);
      continue;
    }
    std::string body;
    if (!ReadBody(request.get(), deadline, limits.nMaxBodyBytes, body)) return false;
    text += body;
    return true;
  }
}

}  // namespace platform
