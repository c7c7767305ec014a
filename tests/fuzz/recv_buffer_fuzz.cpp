// A scripted peer on a socket pair and a reader that mixes byte, line and
// block reads in the order the input gives. A model of the byte stream
// says what each read must return; the ring must hold exactly the next
// bytes of the stream, in order, after every step.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "net/recv_buffer.h"
#include "socket_pair.h"

namespace {

struct Script {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos = 0;
  bool AtEnd() const { return pos >= size; }
  std::uint8_t Next() { return pos < size ? data[pos++] : 0; }
};

// The ring invariant, and the ring holding the first nCount bytes of what
// is still to be read.
void CheckRing(const RecvBuffer* p, const std::string& pending) {
  FUZZ_CHECK(p->nCapacity == RECV_BUFFER_SIZE);
  FUZZ_CHECK(p->nCount >= 0 && p->nCount <= p->nCapacity);
  FUZZ_CHECK(p->nReadPos >= 0 && p->nReadPos < p->nCapacity);
  FUZZ_CHECK(p->nWritePos >= 0 && p->nWritePos < p->nCapacity);
  FUZZ_CHECK(p->nWritePos == (p->nReadPos + p->nCount) % p->nCapacity);
  FUZZ_CHECK(static_cast<std::size_t>(p->nCount) <= pending.size());
  for (std::int32_t i = 0; i < p->nCount; ++i) {
    FUZZ_CHECK(p->pData[(p->nReadPos + i) % p->nCapacity] == pending[static_cast<std::size_t>(i)]);
  }
}

// What a line read must give for the stream's next bytes: the line (or a
// 1023-byte piece of it), and how many bytes it takes; -1 when no line
// feed comes before the data runs out.
int ExpectLine(const std::string& pending, std::string& line, std::size_t& taken) {
  constexpr std::size_t kMax = RECV_LINE_SIZE - 1;
  line.clear();
  for (taken = 0; taken < pending.size();) {
    if (line.size() == kMax) return 1;
    const char c = pending[taken++];
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return 0;
    }
    line += c;
  }
  if (line.size() == kMax) return 1;
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SocketPair peer;
  RecvBuffer* ring = RecvBufferCreate(peer.ours());
  FUZZ_CHECK(ring != nullptr);
  std::unique_ptr<char[]> line(new char[RECV_LINE_SIZE]);
  std::unique_ptr<char[]> block(new char[RECV_BUFFER_SIZE]);
  std::string pending;  // sent and not yet handed out

  Script script{data, size};
  for (int step = 0; step < 4096 && !script.AtEnd(); ++step) {
    const std::uint8_t op = script.Next();
    switch (op % 7) {
      case 0: {  // the peer sends the next bytes of the input
        const std::size_t n = std::min<std::size_t>(script.Next() + 1u, script.size - script.pos);
        pending += peer.Send(std::string(reinterpret_cast<const char*>(data + script.pos), n));
        script.pos += n;
        break;
      }
      case 1: {
        const std::int32_t b = RecvBufferReadByte(ring, 0);
        if (pending.empty()) {
          FUZZ_CHECK(b == RECV_NO_BYTE);
        } else {
          FUZZ_CHECK(b == static_cast<unsigned char>(pending[0]));
          pending.erase(0, 1);
        }
        break;
      }
      case 2: {
        std::string expected;
        std::size_t taken = 0;
        const int want = ExpectLine(pending, expected, taken);
        std::int32_t state = 99;
        std::memset(line.get(), 0x5A, RECV_LINE_SIZE);
        const std::int32_t rc = RecvBufferReadLine(ring, line.get(), state, 0);
        if (want < 0) {
          FUZZ_CHECK(rc == -1 && state == -1);
          pending.clear();
        } else {
          FUZZ_CHECK(rc == 0 && state == want);
          FUZZ_CHECK(std::memchr(line.get(), '\0', RECV_LINE_SIZE) != nullptr);
          FUZZ_CHECK(std::string(line.get(), std::strlen(line.get())) == expected.substr(0, expected.find('\0')));
          pending.erase(0, taken);
        }
        break;
      }
      case 3: {
        const std::int32_t had = ring->nCount;
        const std::int32_t n = RecvBufferReadBlock(ring, block.get(), 0);
        if (pending.empty()) {
          FUZZ_CHECK(n == 0);
        } else {
          FUZZ_CHECK(n > 0 && static_cast<std::size_t>(n) <= pending.size());
          if (had > 0) FUZZ_CHECK(n == had);
          FUZZ_CHECK(std::memcmp(block.get(), pending.data(), static_cast<std::size_t>(n)) == 0);
          FUZZ_CHECK(ring->nCount == 0);
          pending.erase(0, static_cast<std::size_t>(n));
        }
        break;
      }
      case 4: {
        const std::int32_t had = ring->nCount;
        const std::int32_t n = RecvBufferFill(ring, 0);
        const bool waiting = pending.size() > static_cast<std::size_t>(had);
        if (had == ring->nCapacity) {
          FUZZ_CHECK(n == 0);
        } else if (waiting) {
          FUZZ_CHECK(n > 0 && n <= ring->nCapacity - had);
        } else {
          FUZZ_CHECK(n == (peer.closed() ? 0 : -1));
        }
        FUZZ_CHECK(ring->nCount == had + (n > 0 ? n : 0));
        break;
      }
      case 5: {  // a long run of one byte, to fill and wrap the ring
        const std::size_t n = (script.Next() + 1u) * 40u;
        pending += peer.Send(std::string(n, static_cast<char>(script.Next())));
        break;
      }
      default:
        peer.Close();
        break;
    }
    CheckRing(ring, pending);
  }
  RecvBufferFree(ring);
  return 0;
}
