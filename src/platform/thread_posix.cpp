#include "platform/thread.h"

#include <pthread.h>
#include <unistd.h>

namespace platform {

static_assert(sizeof(pthread_t) <= sizeof(std::uintptr_t));

std::uint32_t CurrentThreadId() { return static_cast<std::uint32_t>(gettid()); }

void* Thread::Entry(void* self) {
  static_cast<Thread*>(self)->Run();
  return nullptr;
}

bool Thread::Start(void (*proc)(void*), void* arg) {
  Join();
  m_pProc = proc;
  m_pArg = arg;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, Entry, this) != 0) return false;
  m_hThread = static_cast<std::uintptr_t>(thread);
  m_bRunning = true;
  return true;
}

void Thread::Join() {
  if (!m_bRunning) return;
  pthread_join(static_cast<pthread_t>(m_hThread), nullptr);
  m_bRunning = false;
}

}  // namespace platform
