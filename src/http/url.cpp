#include "http/url.h"

#include "platform/text.h"

using platform::npos;

namespace {

BOOL Parse(std::string url, std::string& host, std::uint16_t& port, std::string& object, BOOL* secure) {
  url = platform::Trim(url);
  host.clear();
  object.clear();
  port = 0;

  std::size_t schemeEnd = platform::MbFind(url, "://");
  if (schemeEnd == npos) return FALSE;
  schemeEnd += 3;
  const std::string scheme = platform::ToLower(std::string_view(url).substr(0, schemeEnd));
  const bool https = scheme == "https://";
  if (scheme != "http://" && (!https || secure == nullptr)) return FALSE;

  std::string_view rest = std::string_view(url).substr(schemeEnd);
  if (rest.empty()) return FALSE;
  std::size_t slash = platform::MbFind(rest, '/');
  if (slash == npos) return FALSE;

  object = std::string(rest.substr(slash));
  std::string_view authority = rest.substr(0, slash);
  std::size_t colon = platform::MbFind(authority, ':');
  if (colon == npos) {
    host = std::string(authority);
    port = https ? 443 : 80;
  } else {
    host = std::string(authority.substr(0, colon));
    port = static_cast<std::uint16_t>(static_cast<unsigned>(platform::AtoI(authority.substr(colon + 1))));
  }
  if (secure != nullptr) *secure = https ? TRUE : FALSE;
  return TRUE;
}

}  // namespace

BOOL ParseUrl(std::string url, std::string& host, std::uint16_t& port, std::string& object) {
  return Parse(std::move(url), host, port, object, nullptr);
}

BOOL ParseUrl(std::string url, std::string& host, std::uint16_t& port, std::string& object, BOOL& secure) {
  return Parse(std::move(url), host, port, object, &secure);
}
