// Simple GET requests through libcurl, for the configuration service and
// the launch report.
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

// GETs url, following redirects, with the environment's proxy settings
// (http_proxy, no_proxy, ...), and appends the body to text with every
// carriage return and line feed dropped. Any HTTP status counts as opened.
// False, and text untouched, when the URL cannot be opened or the transfer
// breaks off or exceeds a limit.
// The address as it goes to libcurl, which refuses one holding a space or
// a control byte before sending anything: those bytes percent-encoded
// (%20, %0A, %7F), every other byte as it is.
std::string UrlForOpener(const std::string& url);

bool OpenUrlText(const std::string& url, const std::string& userAgent, std::string& text,
                 const UrlOpenerLimits& limits = {});

}  // namespace platform
