#include "platform/console.h"

#include <atomic>

#include "platform/windows_api.h"

namespace platform {

namespace {

std::atomic<void (*)()> g_onInterrupt{nullptr};
std::atomic<bool> g_bInterrupted{false};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT) return FALSE;
  // The second Ctrl-C goes to the system's handler, which ends the process.
  if (g_bInterrupted.exchange(true)) return FALSE;
  void (*call)() = g_onInterrupt.load();
  if (call != nullptr) call();
  return TRUE;
}

}  // namespace

bool StandardErrorIsTerminal() {
  const HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode);
}

bool CatchInterrupt(void (*onInterrupt)()) {
  g_onInterrupt.store(onInterrupt);
  g_bInterrupted.store(false);
  return SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// Windows has no file-size limit signal: a write past a limit just fails.
void IgnoreFileSizeLimitSignal() {}

}  // namespace platform
