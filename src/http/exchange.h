// One HTTP request of a download session, up to the first body byte.
#pragma once

#include <cstdint>
#include <string>

#include "net/recv_buffer.h"

class CHttpDownload;

// Results of HttpExchange.
constexpr std::int32_t HX_OK = 0;         // the body follows on the session's connection
constexpr std::int32_t HX_TRANSIENT = 1;  // unreachable, silent, refused or 5xx: worth a retry
constexpr std::int32_t HX_STOPPED = 2;    // m_bStop was found set
constexpr std::int32_t HX_FAILED = 3;     // a retry would not cure it
constexpr std::int32_t HX_NOTFOUND = 4;   // 404

// New connections that one exchange makes in a row for redirects (or for
// a range that the server would not continue), and again for requests
// that went out short with a timed-out connection. Nothing else would end
// a server's redirect circle.
constexpr int HX_MAX_RESTARTS = 20;
// A header that has not ended by then never will in any useful way.
constexpr std::size_t HX_MAX_HEADER_BYTES = 1 << 20;

// Opens a fresh connection (directly or through the session's proxy),
// sends the request, reads and interprets the header, and starts over
// for a redirect. After HX_OK the connection is positioned at the body,
// whose first bytes may already be in m_pRecvBuffer.
std::int32_t HttpExchange(CHttpDownload& session);

// Reads header lines from the ring up to the empty line that ends the
// header, each stored with "\r\n" (a long line whole). HX_OK; HX_TRANSIENT
// when the data runs out first; HX_FAILED past HX_MAX_HEADER_BYTES.
std::int32_t ReadResponseHeader(RecvBuffer* ring, std::string& header, std::int32_t nTimeoutMs);
