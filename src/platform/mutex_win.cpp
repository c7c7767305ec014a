// The system's named mutexes, in the session's own namespace.
#include <windows.h>

#include "platform/mutex.h"

namespace platform {

struct NamedMutex {
  HANDLE hMutex;
  // This handle's wait succeeded and it has not released since: the
  // system counts every wait of the owning thread, this layer does not.
  bool bOwned;
};

MutexHandle CreateNamedMutex(const std::string& name, bool& alreadyExisted) {
  alreadyExisted = false;
  // "" would make a mutex without a name that nobody else can open, and
  // the system would read a name only up to a zero byte.
  if (name.empty() || name.find('\0') != std::string::npos) return nullptr;
  const HANDLE h = CreateMutexA(nullptr, FALSE, name.c_str());
  if (h == nullptr) return nullptr;
  alreadyExisted = GetLastError() == ERROR_ALREADY_EXISTS;
  return new NamedMutex{h, false};
}

bool WaitNamedMutex(MutexHandle h, std::int32_t timeoutMs) {
  if (h == nullptr) return false;
  if (h->bOwned) return true;
  const DWORD rc = WaitForSingleObject(h->hMutex, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  // A holder that ended without releasing hands the mutex over abandoned:
  // owned all the same.
  h->bOwned = rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
  return h->bOwned;
}

void ReleaseNamedMutex(MutexHandle h) {
  // Only what this handle took: another handle's ownership on the same
  // thread is the system's to count, not ours to end.
  if (h == nullptr || !h->bOwned) return;
  ReleaseMutex(h->hMutex);
  h->bOwned = false;
}

void CloseNamedMutex(MutexHandle h) {
  if (h == nullptr) return;
  // Closing the handle alone would leave the thread the owner.
  ReleaseNamedMutex(h);
  CloseHandle(h->hMutex);
  delete h;
}

}  // namespace platform
