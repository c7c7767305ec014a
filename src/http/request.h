// The GET request a session sends, and the base64 of its credentials.
#pragma once

#include <cstdint>
#include <string>

class CHttpDownload;

// The whole request text, header and closing empty line, built from the
// session's members; it goes out in one send.
std::string ComposeRequest(const CHttpDownload& session);

// What asks an HTTP proxy for a tunnel to the session's server (https),
// with the proxy's credentials when they are set.
std::string ComposeTunnelRequest(const CHttpDownload& session);

// Replaces out with the base64 (RFC 4648, no line breaks) of text up to its
// first zero byte; returns out's length. A null text encodes as empty.
std::int32_t Base64Encode(const char* text, std::string& out);
