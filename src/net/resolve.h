// Host text to one IPv4 address in network byte order.
#pragma once

#include <cstdint>

#include "platform/types.h"

#ifndef INADDR_NONE
constexpr std::uint32_t INADDR_NONE = 0xFFFFFFFFu;
#endif

// Dotted text is taken as it stands; a name is looked up (first address),
// on a thread of its own when asked, which the caller waits for without a
// limit. INADDR_NONE when nothing was found, so 255.255.255.255 reads as
// a failure too.
std::uint32_t ResolveHost(const char* pszHost, BOOL bResolveInThread);

struct ResolveRequest {
  const char* pszHost;    // owned by the caller for the whole lookup
  std::uint32_t nAddress;  // the answer, or INADDR_NONE
};
// The lookup thread's procedure; pRequest is a ResolveRequest.
void ResolveThreadProc(void* pRequest);
