// An untrusted response as it arrives on the connection: the header reader
// takes lines up to the empty one, and must leave the rest in the ring.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "http/exchange.h"
#include "socket_pair.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SocketPair pair;
  const std::size_t played = pair.PlayAndEnd(data, size);
  const std::string input(reinterpret_cast<const char*>(data), played);
  RecvBuffer* ring = RecvBufferCreate(pair.ours());
  FUZZ_CHECK(ring != nullptr);

  std::string header;
  const std::int32_t rc = ReadResponseHeader(ring, header, 50);
  FUZZ_CHECK(rc == HX_OK || rc == HX_TRANSIENT || rc == HX_FAILED);
  FUZZ_CHECK(header.size() <= HX_MAX_HEADER_BYTES + RECV_LINE_SIZE + 2);
  if (rc == HX_OK) {
    // Lines are stored with CRLF, and a line feed appears nowhere else.
    for (std::size_t i = header.find('\n'); i != std::string::npos; i = header.find('\n', i + 1)) {
      FUZZ_CHECK(i > 0 && header[i - 1] == '\r');
    }
    FUZZ_CHECK(header.empty() || header.size() >= 2);
    // The reader stopped at an empty line: a line feed, alone or after a CR,
    // and what follows it is still in the ring.
    std::string rest;
    for (std::int32_t b; (b = RecvBufferReadByte(ring, 0)) != RECV_NO_BYTE;) rest += static_cast<char>(b);
    FUZZ_CHECK(rest.size() < input.size());
    const std::string taken = input.substr(0, input.size() - rest.size());
    FUZZ_CHECK(taken.back() == '\n');
    FUZZ_CHECK(input.compare(input.size() - rest.size(), rest.size(), rest) == 0);
  }
  RecvBufferFree(ring);
  return 0;
}
