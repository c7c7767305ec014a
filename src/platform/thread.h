// A joinable thread running a plain procedure.
#pragma once

#include <thread>

namespace platform {

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
