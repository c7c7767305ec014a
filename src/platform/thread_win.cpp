#include "platform/thread.h"

#include <process.h>

#include "platform/windows_api.h"

namespace platform {

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(GetCurrentThreadId()); }

unsigned __stdcall Thread::Entry(void* self) {
  static_cast<Thread*>(self)->Run();
  return 0;
}

bool Thread::Start(void (*proc)(void*), void* arg) {
  Join();
  m_pProc = proc;
  m_pArg = arg;
  // _beginthreadex, not CreateThread: the C run time gets the thread ready
  // for itself too.
  const std::uintptr_t h = _beginthreadex(nullptr, 0, Entry, this, 0, nullptr);
  if (h == 0) return false;
  m_hThread = h;
  m_bRunning = true;
  return true;
}

void Thread::Join() {
  if (!m_bRunning) return;
  const HANDLE h = reinterpret_cast<HANDLE>(m_hThread);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
  m_bRunning = false;
}

}  // namespace platform
