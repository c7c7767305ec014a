// Simple GET requests for the configuration service and the launch report,
// through libcurl on POSIX and WinINet on Windows.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

struct UrlOpenerLimits {
  long nConnectTimeoutMs = 10000;        // a dead service gives up quickly
  long nTotalTimeoutMs = 30000;          // a silent one can never hold start-up
  std::size_t nMaxBodyBytes = 1 << 20;   // past it the fetch fails
  long nMaxRedirects = 10;
};

// The address as it goes to the opener (libcurl refuses one holding a
// space or a control byte before sending anything): those bytes
// percent-encoded (%20, %0A, %7F), every other byte as it is.
std::string UrlForOpener(const std::string& url);

// GETs an http or https url, following redirects (any 3xx with a
// Location), with the system's proxy settings (the environment's
// http_proxy, no_proxy, ... on POSIX; the pre-configured ones on Windows),
// and appends the body to text with every carriage return and line feed
// dropped. Any HTTP status counts as opened. False, and text untouched,
// when the URL cannot be opened or the transfer breaks off or exceeds a
// limit. *pStatus, when given, receives the last answer's HTTP status, 0
// when none came.
bool OpenUrlText(const std::string& url, const std::string& userAgent, std::string& text,
                 const UrlOpenerLimits& limits = {}, long* pStatus = nullptr);

// Body bytes as the openers keep them: without carriage returns and line feeds.
void AppendWithoutLineBreaks(std::string& text, const char* pData, std::size_t nLength);

}  // namespace platform
