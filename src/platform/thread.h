// A joinable thread running a plain procedure.
#pragma once

#include <cstdint>

namespace platform {

// The calling thread's identifier, unique among the running threads of
// the system (on Linux the main thread's is the process id).
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
  // What the new thread calls, through this object (it cannot move).
  void Run() { m_pProc(m_pArg); }
#ifdef _WIN32
  static unsigned __stdcall Entry(void* self);
#else
  static void* Entry(void* self);
#endif

  void (*m_pProc)(void*) = nullptr;
  void* m_pArg = nullptr;
  bool m_bRunning = false;
  std::uintptr_t m_hThread = 0;  // pthread_t, or the HANDLE of _beginthreadex
};

}  // namespace platform
