#include "platform/shell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// Starts argv[0] (searched on PATH) in a session of its own. The child is
// not waited for; the launcher ends soon after and init reaps it.
bool SpawnDetached(const char* const argv[]) {
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
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &actions, &attr, const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

}  // namespace

bool ShellOpenUrl(const std::string& url) {
  const char* argv[] = {"xdg-open", url.c_str(), nullptr};
  return SpawnDetached(argv);
}

}  // namespace platform
