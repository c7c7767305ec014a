// Reading a response header: status classes, length, time and redirects.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CHttpDownload;

// Results of ParseResponseHeader.
constexpr std::int32_t RP_OK = 0;        // below 300 with a Content-Length: the body follows
constexpr std::int32_t RP_RETRY = 1;     // 500 or above (a negative status counts as above)
constexpr std::int32_t RP_REDIRECT = 2;  // 3xx: the session's URL members name the new target
constexpr std::int32_t RP_FAILED = 3;    // malformed, no length or location, other 4xx, bad target
constexpr std::int32_t RP_NOTFOUND = 4;  // 404

// header: the status line and the header lines, each ending "\r\n". Names
// match in any case, and values are taken lower-cased. Always writes status,
// contentLength and lastModified (the current time unless a usable
// Last-Modified says otherwise); a redirect rewrites m_strReferer, m_strUrl,
// m_strHost, m_nPort and m_strObject.
std::int32_t ParseResponseHeader(CHttpDownload& session, std::string header, std::int32_t& status,
                                 std::int32_t& contentLength, std::int64_t& lastModified);

// The code of a header's status line: what follows its first blank, as
// atoi reads it; 0 without a blank (no answer read, say).
std::int32_t StatusCodeOf(std::string_view header);

// A lower-cased HTTP date ("wed, 21 oct 2015 07:28:00 gmt") read as UTC.
// Returns unsettled for a text without ',' or with a field out of range.
std::int64_t ParseHttpDate(std::string_view text, std::int64_t unsettled);

// The value of the first header line (after the status line) whose name is
// name in any case, trimmed and as it came; false when there is none.
bool FindHeaderField(std::string_view header, std::string_view name, std::string& value);

// A Content-Range value of a partial answer, "bytes FIRST-LAST/TOTAL" with
// FIRST <= LAST < TOTAL, each within 32 bits; false for anything else.
bool ParseContentRange(std::string_view value, std::uint32_t& first, std::uint32_t& last, std::uint32_t& total);
