// The system's socket headers, for the socket sources of this directory
// only: the name look-up and the address record are the same on both.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstddef>

#include "platform/socket.h"

namespace platform {

static_assert(kFamilyIPv4 == AF_INET);
static_assert(kAddressNone == INADDR_NONE);
static_assert(sizeof(SocketAddressV4) == sizeof(sockaddr_in));
static_assert(offsetof(SocketAddressV4, nFamily) == offsetof(sockaddr_in, sin_family));
static_assert(offsetof(SocketAddressV4, nPort) == offsetof(sockaddr_in, sin_port));
static_assert(offsetof(SocketAddressV4, nAddress) == offsetof(sockaddr_in, sin_addr));

}  // namespace platform
