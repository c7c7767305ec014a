// IPv4 TCP sockets: the system calls under the timed socket operations.
// Nothing here waits except SocketPoll. A failed call leaves its reason in
// SocketLastError() (errno, or WSAGetLastError() on Windows), as the socket
// library's own last error would be read.
#pragma once

#include <cstdint>
#include <string_view>
#ifndef _WIN32
#include <cerrno>
#endif

namespace platform {

// A descriptor, or a Windows SOCKET; kNoSocket is INVALID_SOCKET there too.
using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// Error codes that callers compare with.
#ifdef _WIN32
constexpr std::int32_t kSocketWouldBlock = 10035;    // WSAEWOULDBLOCK
constexpr std::int32_t kSocketTimedOut = 10060;      // WSAETIMEDOUT
constexpr std::int32_t kSocketNotConnected = 10057;  // WSAENOTCONN
constexpr std::int32_t kSocketHostNotFound = 11001;  // WSAHOST_NOT_FOUND, as a failed look-up leaves it
#else
constexpr std::int32_t kSocketWouldBlock = EWOULDBLOCK;
constexpr std::int32_t kSocketTimedOut = ETIMEDOUT;
constexpr std::int32_t kSocketNotConnected = ENOTCONN;
constexpr std::int32_t kSocketHostNotFound = EHOSTUNREACH;
#endif

constexpr std::uint16_t kFamilyIPv4 = 2;
constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;

// Laid out as the system's IPv4 address record (16 bytes).
struct SocketAddressV4 {
  std::uint16_t nFamily;   // kFamilyIPv4
  std::uint16_t nPort;     // network byte order
  std::uint32_t nAddress;  // network byte order
  std::uint8_t zero[8];
};

SocketAddressV4 MakeSocketAddressV4(std::uint32_t nAddress, std::uint16_t nPortHostOrder);

// Makes the socket library ready (Winsock 2.2; nothing to do on POSIX):
// 0, or the reason it is not.
std::int32_t SocketStartup();

std::int32_t SocketLastError();

// Non-blocking and not inherited by started programs from the start;
// kNoSocket on failure.
SocketHandle SocketCreateStream();
bool SocketSetReuseAddress(SocketHandle s);

// 0 when connected at once; -1 otherwise. A connection still under way
// fails with kSocketWouldBlock, as a send that cannot go out yet does.
int SocketConnect(SocketHandle s, const SocketAddressV4& addr);
// The socket's pending error, taken from it (0 when there is none); the
// reason itself when it cannot be read.
std::int32_t SocketTakeError(SocketHandle s);

enum : unsigned {
  kPollRead = 1,    // data, or the peer's end of stream
  kPollWrite = 2,   // room to send, or a connect that has finished
  kPollError = 4,   // a pending error
  kPollHangup = 8,  // neither direction can carry data any more (POSIX only:
                    // select cannot tell it; the receive that follows does)
};
// Waits up to nTimeoutMs (-1: for ever) until one of `events` (or an error
// or hang-up) holds. The flags that hold; 0 when the limit passed; -1 on
// failure, an interrupting signal included.
int SocketPoll(SocketHandle s, unsigned events, std::int32_t nTimeoutMs);

// One call each: bytes moved (0 from a receive: the peer closed), or -1.
// Sending never raises SIGPIPE. A receive fills pFirst, then pSecond; on
// POSIX it never waits, even on a descriptor that blocks (on Windows every
// socket made here stays non-blocking).
std::int32_t SocketSend(SocketHandle s, const char* pData, std::int32_t nLength);
std::int32_t SocketReceive(SocketHandle s, char* pFirst, std::int32_t nFirst,
                           char* pSecond = nullptr, std::int32_t nSecond = 0);

enum class ShutdownHow { kSend, kBoth };
void SocketShutdown(SocketHandle s, ShutdownHow how);
void SocketClose(SocketHandle s);

// Dotted IPv4 text as inet_addr reads it; kAddressNone when it is not.
std::uint32_t ParseAddressV4(const char* pszText);
// The first IPv4 address of a host name, or kAddressNone.
std::uint32_t LookupAddressV4(const char* pszName);

// A name under "invalid", which never exists (RFC 6761, 6.4): answered
// at once, without asking any name server.
bool IsInvalidHostName(std::string_view name);

}  // namespace platform
