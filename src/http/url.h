// Splits an absolute http (or https) URL into host, port and request target.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

// Accepts "http://" (any case), a host with an optional ":port" and a path
// that starts with '/'. Nothing else is recognised: no user information,
// no IPv6 literals, no escapes. host and object are left empty and port 0
// when the URL is rejected.
BOOL ParseUrl(std::string url, std::string& host, std::uint16_t& port, std::string& object);

// The same, and "https://" too (default port 443); secure says which it
// was, and is left alone when the URL is rejected.
BOOL ParseUrl(std::string url, std::string& host, std::uint16_t& port, std::string& object, BOOL& secure);
