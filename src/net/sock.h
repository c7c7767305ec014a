// Blocking operations with a time limit per wait on one IPv4 TCP socket.
// Failures come back as results; the reason is in t_nSockError.
#pragma once

#include <cstdint>

#include "platform/socket.h"
#include "platform/types.h"

using SOCKET = platform::SocketHandle;
constexpr SOCKET INVALID_SOCKET = platform::kNoSocket;

// Family, port and address, the last two in network byte order (16 bytes).
using SockAddrIn = platform::SocketAddressV4;

// Codes in t_nSockError that callers test for.
constexpr std::int32_t SOCK_EWOULDBLOCK = platform::kSocketWouldBlock;  // also: a wait's limit ran out
constexpr std::int32_t SOCK_ETIMEDOUT = platform::kSocketTimedOut;  // the connection timed out
constexpr std::int32_t SOCK_EHOSTNOTFOUND = platform::kSocketHostNotFound;

// Last failure of a socket operation on this thread; never cleared.
extern thread_local std::int32_t t_nSockError;

// Limits are milliseconds; -1 waits for ever.
// 0 when the socket library is ready (version 2.2 of Winsock on Windows),
// -1 with the reason in t_nSockError. Needed once before any other call.
int SockStartup();
SOCKET SockCreate();
// Immediate: closed at once. Otherwise the sending side is shut first and
// what the peer still sends is read and dropped (at most 4 s) before closing.
void SockClose(SOCKET s, BOOL bImmediate);
void SockCloseGraceful(SOCKET s, std::int32_t nDrainLimitMs);
// 0 connected, -1 failed.
int SockConnect(SOCKET s, const SockAddrIn& addr, std::int32_t nTimeoutMs);
int SockConnectHost(SOCKET s, const char* pszHost, std::uint16_t nPort, std::int32_t nTimeoutMs,
                    BOOL bResolveInThread);
// Bytes that went out, 0 to nLength: fewer than nLength means failure.
std::int32_t SockSend(SOCKET s, const char* pData, std::int32_t nLength, std::int32_t nTimeoutMs);
// One receive: bytes received, 0 when the peer closed its side, -1 on
// failure or when the limit passed.
std::int32_t SockRecv(SOCKET s, char* pBuffer, std::int32_t nCapacity, std::int32_t nTimeoutMs);
// The same into two pieces of memory, the first filled first.
std::int32_t SockRecvSegments(SOCKET s, char* pFirst, std::int32_t nFirst, char* pSecond,
                              std::int32_t nSecond, std::int32_t nTimeoutMs);
