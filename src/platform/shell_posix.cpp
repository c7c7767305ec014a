#include "platform/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// Starts argv[0] in a session of its own, searched on PATH when searchPath
// is set. The child is not waited for; the launcher ends soon after and
// init reaps it. A failed exec is reported: posix_spawn waits for it.
bool SpawnDetached(const char* const argv[], bool searchPath) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // The started program begins as from a shell: no blocked signals, and a
  // closed pipe ends it.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid;
  char* const* args = const_cast<char* const*>(argv);
  int rc = searchPath ? posix_spawnp(&pid, argv[0], &actions, &attr, args, environ)
                      : posix_spawn(&pid, argv[0], &actions, &attr, args, environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

}  // namespace

bool ShellOpenUrl(const std::string& url) {
  if (!IsWebAddress(url)) return false;
  const char* argv[] = {"xdg-open", url.c_str(), nullptr};
  return SpawnDetached(argv, true);
}

bool StartProgram(const std::string& path, const std::string& argument) {
  if (path.empty()) return false;
  const char* argv[] = {path.c_str(), argument.c_str(), nullptr};
  return SpawnDetached(argv, false);
}

}  // namespace platform
