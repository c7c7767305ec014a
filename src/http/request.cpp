#include "http/request.h"

#include <cstring>

#include "http/session.h"

namespace {

const char* const kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string BasicCredentials(const std::string& user, const std::string& password) {
  std::string joined = user + ":" + password;
  std::string encoded;
  Base64Encode(joined.c_str(), encoded);
  return encoded;
}

}  // namespace

std::int32_t Base64Encode(const char* text, std::string& out) {
  out.clear();
  if (text == nullptr) return 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::size_t length = std::strlen(text);
  out.reserve((length + 2) / 3 * 4);
  for (std::size_t i = 0; i < length; i += 3) {
    std::size_t n = length - i < 3 ? length - i : 3;
    std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
    if (n > 1) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (n > 2) group |= bytes[i + 2];
    // n bytes fill n + 1 characters; the rest of the four is padding.
    for (std::size_t c = 0; c < 4; ++c) {
      out += c <= n ? kBase64Alphabet[(group >> (18 - 6 * c)) & 0x3f] : '=';
    }
  }
  return static_cast<std::int32_t>(out.size());
}

std::string ComposeRequest(const CHttpDownload& session) {
  // A proxy is asked for the absolute URL; a server, or a tunnel to it
  // (SOCKS, or CONNECT for https), for the path alone.
  const bool viaHttpProxy = session.m_nProxyType == PROXY_HTTP && !session.m_bSecure;
  std::string request = "GET ";
  request += viaHttpProxy ? session.m_strUrl : session.m_strObject;
  request += " HTTP/1.1\r\n";
  if (viaHttpProxy && session.m_bProxyAuth) {
    request += "Proxy-Authorization: Basic " +
               BasicCredentials(session.m_strProxyUserName, session.m_strProxyPassword) + "\r\n";
  }
  if (session.m_bAuth) {
    request += "Authorization: Basic " + BasicCredentials(session.m_strUserName, session.m_strPassword) + "\r\n";
  }
  request += "Host: " + session.m_strHost + "\r\n";
  request += "Accept: */*\r\n";
  request += "Pragma: no-cache\r\n";
  request += "Cache-Control: no-cache\r\n";
  request += "User-Agent: " + session.m_strUserAgent + "\r\n";
  if (!session.m_strReferer.empty()) request += "Referer: " + session.m_strReferer + "\r\n";
  request += "Connection: close\r\n";
  // The rest of a broken transfer, only while the bytes in hand are still
  // the resource's: a changed resource comes whole.
  if (!session.m_bRestart && session.m_nDownloaded > 0 && !session.m_strValidator.empty()) {
    request += "Range: bytes=" + std::to_string(session.m_nDownloaded) + "-\r\n";
    request += "If-Range: " + session.m_strValidator + "\r\n";
  }
  request += "\r\n";
  return request;
}

std::string ComposeTunnelRequest(const CHttpDownload& session) {
  const std::string authority = session.m_strHost + ":" + std::to_string(session.m_nPort);
  std::string request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
  if (session.m_bProxyAuth) {
    request += "Proxy-Authorization: Basic " +
               BasicCredentials(session.m_strProxyUserName, session.m_strProxyPassword) + "\r\n";
  }
  request += "User-Agent: " + session.m_strUserAgent + "\r\n\r\n";
  return request;
}
