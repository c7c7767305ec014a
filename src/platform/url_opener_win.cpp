// WinINet, held to the limits of the libcurl opener. WinINet has no
// overall limit of its own: every step gets what is left of it as its
// time-out, and redirects are followed here, so that they can be counted.
// Each address is opened as InternetOpenUrlA opens one (connect, request,
// send), but by hand: the receive time-out must be set on the request
// before it is sent, and Wine takes it only there.
//
// WinINet's own time-outs do not always hold (Wine ignores the connect
// time-out, a header that trickles in restarts the receive time-out at
// every piece), and a blocked call cannot be broken off. So the transfer
// runs on a thread of its own, and the caller waits for it no longer than
// the limits allow; a transfer given up on ends by itself, later.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

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

// The address's parts as InternetCrackUrlA finds them in it.
struct UrlParts {
  bool bSecure = false;
  std::string strHost, strUser, strPassword, strObject;  // object: path and query
  INTERNET_PORT nPort = 0;
};

std::string Part(const char* p, DWORD length) { return p == nullptr ? std::string() : std::string(p, length); }

// False for anything but an http or https address.
bool CrackWebUrl(const std::string& url, UrlParts& out) {
  URL_COMPONENTSA c{};
  c.dwStructSize = sizeof c;
  // Lengths without buffers: the parts are pointed to within url.
  c.dwHostNameLength = c.dwUserNameLength = c.dwPasswordLength = c.dwUrlPathLength = c.dwExtraInfoLength = 1;
  if (!InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &c)) return false;
  if (c.nScheme != INTERNET_SCHEME_HTTP && c.nScheme != INTERNET_SCHEME_HTTPS) return false;
  out.bSecure = c.nScheme == INTERNET_SCHEME_HTTPS;
  out.strHost = Part(c.lpszHostName, c.dwHostNameLength);
  out.strUser = Part(c.lpszUserName, c.dwUserNameLength);
  out.strPassword = Part(c.lpszPassword, c.dwPasswordLength);
  out.strObject = Part(c.lpszUrlPath, c.dwUrlPathLength) + Part(c.lpszExtraInfo, c.dwExtraInfoLength);
  if (out.strObject.empty()) out.strObject = "/";
  out.nPort = c.nPort;
  return !out.strHost.empty();
}

void SetTimeOuts(HINTERNET h, DWORD connectMs, DWORD leftMs) {
  SetTimeOut(h, INTERNET_OPTION_CONNECT_TIMEOUT, std::min(connectMs, leftMs));
  SetTimeOut(h, INTERNET_OPTION_SEND_TIMEOUT, leftMs);
  SetTimeOut(h, INTERNET_OPTION_RECEIVE_TIMEOUT, leftMs);
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

bool QueryStatus(HINTERNET request, DWORD& status) {
  DWORD length = sizeof status;
  DWORD index = 0;
  return HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, &index);
}

// The announced length, read as text: the number form has 32 bits only.
bool QueryContentLength(HINTERNET request, unsigned long long& length) {
  std::string value;
  if (!QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH, value)) return false;
  const char* end = value.data() + value.size();
  const auto [stop, error] = std::from_chars(value.data(), end, length);
  return error == std::errc() && stop == end;
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

// What the waiting caller learns of the transfer on the worker thread.
struct Transfer {
  std::mutex lock;
  std::condition_variable changed;
  std::optional<Clock::time_point> connectingSince;  // while a name or a connection is awaited
  bool bDone = false;
  bool bOpened = false;
  long nStatus = 0;
  std::string strBody;
};

// Called on the worker thread, within its WinINet calls; the context is
// the Transfer. Nothing but these three looks at it.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
  if (status != INTERNET_STATUS_RESOLVING_NAME && status != INTERNET_STATUS_CONNECTING_TO_SERVER &&
      status != INTERNET_STATUS_CONNECTED_TO_SERVER) {
    return;
  }
  Transfer& t = *reinterpret_cast<Transfer*>(context);
  std::lock_guard<std::mutex> g(t.lock);
  if (status == INTERNET_STATUS_CONNECTED_TO_SERVER) {
    t.connectingSince.reset();
  } else if (!t.connectingSince) {
    t.connectingSince = Clock::now();
  }
  t.changed.notify_all();
}

bool ReadBody(HINTERNET request, Clock::time_point deadline, std::size_t nMaxBytes, std::string& body) {
  unsigned long long announced = 0;
  const bool hasLength = QueryContentLength(request, announced);
  unsigned long long received = 0;
  char block[16384];
  for (;;) {
    DWORD left = 0;
    if (!TimeLeft(deadline, left)) return false;
    SetTimeOut(request, INTERNET_OPTION_RECEIVE_TIMEOUT, left);
    // A read waits until its buffer is full: ask only for what is there,
    // so that the deadline is looked at between the pieces.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0)) return false;
    DWORD n = 0;
    if (available > 0 && !InternetReadFile(request, block, std::min<DWORD>(available, sizeof block), &n)) return false;
    if (n == 0) break;
    received += n;
    if (received > nMaxBytes) return false;
    AppendWithoutLineBreaks(body, block, n);
  }
  // WinINet ends a body that broke off like a whole one; libcurl fails it.
  return !hasLength || received == announced;
}

// The transfer itself, on the worker thread: the body, or false.
bool Fetch(const std::string& url, const std::string& userAgent, const UrlOpenerLimits& limits,
           Clock::time_point deadline, Transfer* transfer, std::string& body, long& nStatus) {
  const DWORD connectMs = static_cast<DWORD>(std::clamp(limits.nConnectTimeoutMs, 1L, 0x7FFFFFFFL));
  const auto context = reinterpret_cast<DWORD_PTR>(transfer);
  InternetHandle session(InternetOpenA(userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (session.get() == nullptr) return false;
  // Handles made later take it over; it is called only for a context other than 0.
  InternetSetStatusCallbackA(session.get(), OnStatus);
  std::string current = UrlForOpener(url);
  for (long redirects = 0;; ++redirects) {
    UrlParts parts;
    if (!CrackWebUrl(current, parts)) return false;
    DWORD left = 0;
    if (!TimeLeft(deadline, left)) return false;
    // Windows hands the limits down from handle to handle; Wine takes each
    // only from the handle that uses it.
    SetTimeOuts(session.get(), connectMs, left);
    InternetHandle connection(InternetConnectA(session.get(), parts.strHost.c_str(), parts.nPort,
                                               parts.strUser.empty() ? nullptr : parts.strUser.c_str(),
                                               parts.strPassword.empty() ? nullptr : parts.strPassword.c_str(),
                                               INTERNET_SERVICE_HTTP, 0, context));
    if (connection.get() == nullptr) return false;
    const char* accept[] = {"*/*", nullptr};
    InternetHandle request(HttpOpenRequestA(connection.get(), "GET", parts.strObject.c_str(), nullptr, nullptr,
                                            accept, kOpenFlags | (parts.bSecure ? INTERNET_FLAG_SECURE : 0), context));
    if (request.get() == nullptr) return false;
    SetTimeOuts(request.get(), connectMs, left);
    if (!HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) return false;
    DWORD status = 0;
    if (!QueryStatus(request.get(), status)) return false;
    nStatus = static_cast<long>(status);
    std::string location;
    if (status >= 300 && status < 400 && QueryHeader(request.get(), HTTP_QUERY_LOCATION, location)) {
      // A negative limit follows any number, as libcurl's does.
      if (limits.nMaxRedirects >= 0 && redirects >= limits.nMaxRedirects) return false;
      std::string next;
      if (!CombineUrl(current, location, next)) return false;
      current = UrlForOpener(next);
      continue;
    }
    return ReadBody(request.get(), deadline, limits.nMaxBodyBytes, body);
  }
}

}  // namespace

bool OpenUrlText(const std::string& url, const std::string& userAgent, std::string& text,
                 const UrlOpenerLimits& limits, long* pStatus) {
  if (pStatus != nullptr) *pStatus = 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(limits.nTotalTimeoutMs, 0L));
  const auto connectLimit = std::chrono::milliseconds(std::max(limits.nConnectTimeoutMs, 0L));
  std::shared_ptr<Transfer> transfer;
  try {
    transfer = std::make_shared<Transfer>();
    std::thread([transfer, url, userAgent, limits, deadline] {
      std::string body;
      long status = 0;
      const bool opened = Fetch(url, userAgent, limits, deadline, transfer.get(), body, status);
      std::lock_guard<std::mutex> g(transfer->lock);
      transfer->bDone = true;
      transfer->nStatus = status;
      transfer->bOpened = opened;
      transfer->strBody = std::move(body);
      transfer->changed.notify_all();
    }).detach();
  } catch (const std::exception&) {
    return false;  // no thread to be had
  }
  std::unique_lock<std::mutex> lock(transfer->lock);
  while (!transfer->bDone) {
    Clock::time_point limit = deadline;
    if (transfer->connectingSince) limit = std::min(limit, *transfer->connectingSince + connectLimit);
    if (Clock::now() >= limit) return false;
    transfer->changed.wait_until(lock, limit);
  }
  if (pStatus != nullptr) *pStatus = transfer->nStatus;
  if (!transfer->bOpened) return false;
  text += transfer->strBody;
  return true;
}

}  // namespace platform
