#include "platform/console.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace platform {

namespace {

std::atomic<void (*)()> g_onInterrupt{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free);

void OnSigint(int) {
  void (*call)() = g_onInterrupt.load();
  if (call != nullptr) call();
}

}  // namespace

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool CatchInterrupt(void (*onInterrupt)()) {
  g_onInterrupt.store(onInterrupt);
  struct sigaction action {};
  action.sa_handler = OnSigint;
  sigemptyset(&action.sa_mask);
  // Waits on sockets end early with EINTR anyway (poll is never
  // restarted); the rest of the program need not see the interruption.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  return sigaction(SIGINT, &action, nullptr) == 0;
}

void IgnoreFileSizeLimitSignal() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGXFSZ, &action, nullptr);
}

}  // namespace platform
