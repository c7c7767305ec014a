#include "platform/thread.h"

#include <unistd.h>

#include <system_error>

namespace platform {

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(gettid()); }

bool Thread::Start(void (*proc)(void*), void* arg) {
  Join();
  try {
    m_thread = std::thread(proc, arg);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void Thread::Join() {
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace platform
