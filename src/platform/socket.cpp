// The parts of the socket layer that are the same on every system.
#include <cstring>
#include <string>

#include "platform/socket_system.h"
#include "platform/text.h"

namespace platform {

SocketAddressV4 MakeSocketAddressV4(std::uint32_t nAddress, std::uint16_t nPortHostOrder) {
  SocketAddressV4 addr{};
  addr.nFamily = kFamilyIPv4;
  // Network byte order is the byte order in memory: high byte first.
  const unsigned char port[2] = {static_cast<unsigned char>(nPortHostOrder >> 8),
                                 static_cast<unsigned char>(nPortHostOrder & 0xFF)};
  std::memcpy(&addr.nPort, port, sizeof port);
  addr.nAddress = nAddress;
  return addr;
}

bool IsInvalidHostName(std::string_view name) {
  const std::string lower = ToLower(name);
  std::string_view n = lower;
  if (!n.empty() && n.back() == '.') n.remove_suffix(1);
  return n == "invalid" || n.ends_with(".invalid");
}

std::uint32_t ParseAddressV4(const char* pszText) { return inet_addr(pszText); }

std::uint32_t LookupAddressV4(const char* pszName) {
  if (pszName == nullptr || *pszName == '\0' || IsInvalidHostName(pszName)) return kAddressNone;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(pszName, nullptr, &hints, &list) != 0 || list == nullptr) return kAddressNone;
  std::uint32_t address = kAddressNone;
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
      sockaddr_in sin;
      std::memcpy(&sin, a->ai_addr, sizeof sin);
      address = sin.sin_addr.s_addr;
      break;
    }
  }
  freeaddrinfo(list);
  return address;
}

}  // namespace platform
