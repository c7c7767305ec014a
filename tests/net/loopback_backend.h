// The system calls under the loopback peers, one source per system.
#pragma once

#include <cstddef>
#include <cstdint>

#include "loopback.h"

namespace loopback::backend {

// A blocking listening socket bound to address (network byte order) on a
// port that the system picks; -1 when it cannot be made.
Fd Listen(std::uint32_t address, int backlog, std::uint16_t& port);
// The next connection of the listener within the limit; -1 when none came.
Fd Accept(Fd listener, int timeoutMs);
// True when a receive would not block within the limit.
bool WaitReadable(Fd fd, int timeoutMs);
// One call each: bytes moved, 0 at the end of the stream, negative on failure.
long Receive(Fd fd, char* buffer, std::size_t size);
long Send(Fd fd, const char* data, std::size_t size);

}  // namespace loopback::backend
