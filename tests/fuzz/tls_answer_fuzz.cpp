// Untrusted bytes as a TLS server's answer to the client's hello: the
// handshake must end, refused or cut, and never be taken as done.
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "net/secure.h"
#include "socket_pair.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SocketPair pair;
  pair.PlayAndEnd(data, size);
  std::unique_ptr<SecureChannel> channel;
  std::string why;
  const std::int32_t result = SecureChannel::Open(pair.ours(), "localhost", "", 200, 200, channel, why);
  // Nothing made without the server's key passes the certificate check.
  FUZZ_CHECK(result == SC_TRANSIENT || result == SC_REFUSED);
  FUZZ_CHECK(channel == nullptr && !why.empty());
  return 0;
}
