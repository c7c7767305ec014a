#include "http/response.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "http/session.h"
#include "http/url.h"
#include "platform/text.h"
#include "platform/clock.h"

using platform::npos;

namespace {

const std::string_view kMonths = "jan,feb,mar,apr,may,jun,jul,aug,sep,oct,nov,dec";

// Up to count bytes of s from offset on; empty past its end.
std::string_view Piece(std::string_view s, std::size_t offset, std::size_t count = npos) {
  return offset < s.size() ? s.substr(offset, count) : std::string_view();
}

// The trimmed value after the first "name:" in the lower-cased header, when
// both the name and a line end after it are there.
bool HeaderValue(std::string_view header, std::string_view name, std::string& value) {
  std::size_t start = platform::MbFind(header, name);
  if (start == npos) return false;
  start += name.size();
  std::size_t end = platform::MbFind(header, "\r\n", start);
  if (end == npos) return false;
  value = platform::Trim(header.substr(start, end - start));
  return true;
}

// Rewrites the session's URL members for the redirect target.
std::int32_t FollowRedirect(CHttpDownload& session, std::string target) {
  // A CR or LF would write header lines of the server's choosing into the
  // next request, which may carry credentials for a proxy.
  if (platform::HasControlByte(target)) return RP_FAILED;
  session.m_strReferer = session.m_strUrl;
  if (platform::MbFind(target, "http://") != npos || platform::MbFind(target, "https://") != npos) {
    session.m_strUrl = target;
  } else {
    target = platform::MbReplace(target, '\\', '/');
    if (!target.empty() && target[0] == '/') {
      session.m_strObject = target;
      // An HTTP proxy is asked for m_strUrl, not for the object: without
      // this it would be sent the URL that was just redirected, again.
      if (session.m_nProxyType == PROXY_HTTP) {
        std::size_t authority = platform::MbFind(session.m_strUrl, "://");
        if (authority != npos) {
          std::size_t path = platform::MbFind(session.m_strUrl, '/', authority + 3);
          if (path != npos) session.m_strUrl.erase(path);
          session.m_strUrl += target;
        }
      }
      return RP_REDIRECT;
    }
    int parentSteps = 0;
    for (std::size_t up; (up = platform::MbFind(target, "../")) != npos; ++parentSteps) target.erase(0, up + 3);
    // One cut for the file name, one more for each parent step.
    for (int i = 0; i <= parentSteps; ++i) {
      std::size_t slash = platform::MbReverseFind(session.m_strUrl, '/');
      if (slash != npos) session.m_strUrl.erase(slash);
    }
    session.m_strUrl += "/" + target;
  }
  std::string host, object;
  std::uint16_t port = 0;
  BOOL secure = FALSE;
  const BOOL parsed = ParseUrl(session.m_strUrl, host, port, object, secure);
  // One hop must not take a transfer off TLS.
  if (parsed && session.m_bSecure && !secure) return RP_FAILED;
  session.m_strHost = host;
  session.m_nPort = port;
  session.m_strObject = object;
  if (!parsed) return RP_FAILED;
  session.m_bSecure = secure;
  return RP_REDIRECT;
}

// The announced length as atoi reads it, except that one past 31 bits
// reads as -1, which the exchange refuses: wrapped around, 4 GiB and 100
// bytes would be taken for 100 bytes, and the file cut short called whole.
std::int32_t ContentLengthOf(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && platform::IsBlank(value[i])) ++i;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) ++i;
  std::uint64_t n = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    n = n * 10 + static_cast<std::uint64_t>(value[i] - '0');
    if (n > INT32_MAX) return -1;
  }
  return platform::AtoI(value);
}

}  // namespace

std::int32_t ParseResponseHeader(CHttpDownload& session, std::string header, std::int32_t& status,
                                 std::int32_t& contentLength, std::int64_t& lastModified) {
  status = 0;
  contentLength = 0;
  lastModified = platform::CurrentTime();
  header = platform::ToLower(header);

  std::size_t lineEnd = platform::MbFind(header, "\r\n");
  if (lineEnd == npos) return RP_FAILED;
  std::string statusLine = platform::Trim(std::string_view(header).substr(0, lineEnd));
  std::size_t space = platform::MbFind(statusLine, ' ');
  if (space == npos) return RP_FAILED;
  // A reason phrase must follow the code: "HTTP/1.1 200" alone is rejected.
  std::string_view codeAndReason = std::string_view(statusLine).substr(space + 1);
  std::size_t reason = platform::MbFind(codeAndReason, ' ');
  if (reason == npos) return RP_FAILED;
  status = platform::AtoI(codeAndReason.substr(0, reason));

  const auto code = static_cast<std::uint32_t>(status);
  std::string value;
  if (code >= 300 && code <= 399) {
    if (!HeaderValue(header, "location:", value)) return RP_FAILED;
    return FollowRedirect(session, value);
  }
  if (code >= 500) return RP_RETRY;
  if (code >= 400) return code == 404 ? RP_NOTFOUND : RP_FAILED;

  if (!HeaderValue(header, "content-length:", value)) return RP_FAILED;
  contentLength = ContentLengthOf(value);
  if (HeaderValue(header, "last-modified:", value)) lastModified = ParseHttpDate(value, lastModified);
  return RP_OK;
}

std::int32_t StatusCodeOf(std::string_view header) {
  const std::size_t code = header.find(' ');
  return code == std::string_view::npos ? 0 : platform::AtoI(header.substr(code + 1));
}

std::int64_t ParseHttpDate(std::string_view text, std::int64_t unsettled) {
  std::size_t comma = platform::MbFind(text, ',');
  if (comma == npos) return unsettled;
  std::string date = platform::TrimLeft(text.substr(comma + 1));

  int day = platform::AtoI(Piece(date, 0, 2));
  std::size_t monthAt = platform::MbFind(kMonths, platform::ToLower(Piece(date, 3, 3)));
  int month = monthAt == npos ? 1 : static_cast<int>(monthAt / 4) + 1;

  // Without a blank after the year the year is taken as 2000, and the time
  // is read from what would have been the year.
  std::string rest = platform::TrimLeft(Piece(date, 6));
  std::size_t blank = std::min(platform::MbFind(rest, ' '), platform::MbFind(rest, '\t'));
  int year = 2000;
  std::string_view clock = rest;
  if (blank != npos) {
    year = platform::AtoI(std::string_view(rest).substr(0, blank));
    clock = std::string_view(rest).substr(blank + 1);
  }
  int hour = platform::AtoI(Piece(clock, 0, 2));
  int minute = platform::AtoI(Piece(clock, 3, 2));
  int second = platform::AtoI(Piece(clock, 6, 2));

  if (year < 1900 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59) {
    return unsettled;
  }
  std::int64_t t = 0;
  return platform::UtcTime(year, month, day, hour, minute, second, t) ? t : unsettled;
}

bool FindHeaderField(std::string_view header, std::string_view name, std::string& value) {
  std::size_t line = header.find("\r\n");
  while (line != npos) {
    line += 2;
    const std::size_t end = header.find("\r\n", line);
    const std::string_view text = header.substr(line, end == npos ? npos : end - line);
    if (text.size() > name.size() && text[name.size()] == ':' &&
        platform::ToLower(text.substr(0, name.size())) == platform::ToLower(name)) {
      value = platform::Trim(text.substr(name.size() + 1));
      return true;
    }
    line = end;
  }
  return false;
}

bool ParseContentRange(std::string_view value, std::uint32_t& first, std::uint32_t& last, std::uint32_t& total) {
  // Digits only: no sign, no blank, nothing past 32 bits.
  const auto number = [&value](std::uint32_t& n, char stop) {
    const char* end = value.data() + value.size();
    if (value.empty() || value[0] < '0' || value[0] > '9') return false;
    const auto [p, error] = std::from_chars(value.data(), end, n);
    if (error != std::errc() || (stop != '\0' ? p == end || *p != stop : p != end)) return false;
    value.remove_prefix(static_cast<std::size_t>(p - value.data()) + (stop != '\0' ? 1 : 0));
    return true;
  };
  if (platform::ToLower(value.substr(0, 6)) != "bytes ") return false;
  value.remove_prefix(6);
  return number(first, '-') && number(last, '/') && number(total, '\0') && first <= last && last < total;
}
