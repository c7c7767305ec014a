// IPv4 TCP sockets: the system calls under the timed socket operations.
// Nothing here waits except SocketPoll. A failed call leaves its reason in
// SocketLastError() (an errno value), as the socket library's own last
// error would be read.
#pragma once

#include <cerrno>
#include <cstdint>

namespace platform {

using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;

// Error codes that callers compare with (errno values).
constexpr std::int32_t kSocketWouldBlock = EWOULDBLOCK;
constexpr std::int32_t kSocketTimedOut = ETIMEDOUT;
constexpr std::int32_t kSocketNotConnected = ENOTCONN;
constexpr std::int32_t kSocketHostNotFound = EHOSTUNREACH;

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

std::int32_t SocketLastError();

// Non-blocking and close-on-exec from the start; kNoSocket on failure.
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
  kPollHangup = 8,  // neither direction can carry data any more
};
// Waits up to nTimeoutMs (-1: for ever) until one of `events` (or an error
// or hang-up) holds. The flags that hold; 0 when the limit passed; -1 on
// failure, an interrupting signal included.
int SocketPoll(SocketHandle s, unsigned events, std::int32_t nTimeoutMs);

// One call each: bytes moved (0 from a receive: the peer closed), or -1.
// Sending never raises SIGPIPE. A receive fills pFirst, then pSecond.
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

}  // namespace platform
