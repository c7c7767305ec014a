// A joinable thread running a plain procedure.
#pragma once

#include <cstdint>
#include <thread>

namespace platform {

// The calling thread's identifier, unique among the running threads of
// the system (the main thread's is the process id).
std::uint32_t CurrentThreadId();

class Thread {
 public:
  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread() { Join(); }

  // False when the system could not start another thread.
  bool Start(void (*proc)(void*), void* arg);
  // Waits without a time limit; returns at once when nothing runs.
  void Join();

 private:
  std::thread m_thread;
};

}  // namespace platform
