#include "platform/folders.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>


#include "support/support.h"

using namespace platform;
using testing_support::ScopedEnv;
using testing_support::TempDir;

TEST(Folders, ModuleFileNameIsThisTestProgram) {
  std::string path = GetModuleFileName();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_NE(path.find("platform_test"), std::string::npos) << path;
}

TEST(Folders, LocalAppDataFolder) {
  struct Case {
    const char* name;
    std::optional<std::string> xdg, home;
    std::string expected;
  };
  const Case cases[] = {
      {"xdg set", "/x/data", "/h", "/x/data"},
      {"xdg with trailing slash", "/x/data/", "/h", "/x/data"},
      {"xdg relative is ignored", "rel/data", "/h", "/h/.local/share"},
      {"xdg root is ignored", "/", "/h", "/h/.local/share"},
      {"home only", std::nullopt, "/h", "/h/.local/share"},
      {"home with trailing slash", std::nullopt, "/h/", "/h/.local/share"},
  };
  for (const Case& c : cases) {
    ScopedEnv env;
    if (c.xdg) env.Set("XDG_DATA_HOME", *c.xdg); else env.Unset("XDG_DATA_HOME");
    if (c.home) env.Set("HOME", *c.home); else env.Unset("HOME");
    EXPECT_EQ(GetLocalAppDataFolder(), c.expected) << c.name;
  }
}

TEST(Folders, LastRunLogPathIsUnderTheStateFolder) {
  struct Case {
    const char* name;
    std::optional<std::string> state, data, home;
    std::string expected;
  };
  const Case cases[] = {
      {"state set", "/x/state", "/x/data", "/h", "/x/state/Game/last-run.log"},
      {"state with trailing slashes", "/x/state//", std::nullopt, "/h", "/x/state/Game/last-run.log"},
      {"state relative is ignored", "rel", std::nullopt, "/h", "/h/.local/state/Game/last-run.log"},
      {"the data folder does not move it", std::nullopt, "/x/data", "/h", "/h/.local/state/Game/last-run.log"},
  };
  for (const Case& c : cases) {
    ScopedEnv env;
    if (c.state) env.Set("XDG_STATE_HOME", *c.state); else env.Unset("XDG_STATE_HOME");
    if (c.data) env.Set("XDG_DATA_HOME", *c.data); else env.Unset("XDG_DATA_HOME");
    if (c.home) env.Set("HOME", *c.home); else env.Unset("HOME");
    EXPECT_EQ(GetLastRunLogPath("Game"), c.expected) << c.name;
  }
}

TEST(Folders, WithoutHomeTheRootIsNeverUsed) {
  // With no usable variable the password database decides; whatever it
  // says, the answer is empty or a real home, never /.local/share.
  for (const char* home : {"", "/", "relative"}) {
    ScopedEnv env;
    env.Unset("XDG_DATA_HOME");
    env.Set("HOME", home);
    std::string folder = GetLocalAppDataFolder();
    EXPECT_NE(folder, "/.local/share") << "HOME=" << home;
    if (!folder.empty()) {
      EXPECT_EQ(folder.front(), '/');
    }
  }
}

TEST(Folders, PasswordEntryThatNamesTheRootIsNoHome) {
  // Run as users of a password file of our own, bound over /etc/passwd in a
  // mount namespace of the child's: one whose home is "/", one with a real
  // home (which shows that the file was read at all).
  if (getuid() != 0) GTEST_SKIP() << "needs root for a mount namespace and other user ids";
  TempDir t;
  testing_support::WriteFile(t / "passwd",
                             "root:x:0:0:root:/root:/bin/sh\n"
                             "rooted:x:54330:54330::/:/bin/sh\n"
                             "slashes:x:54331:54331::///:/bin/sh\n"
                             "homed:x:54332:54332::/srv/tolvane-home/:/bin/sh\n");
  const struct {
    uid_t uid;
    const char* folder;
  } cases[] = {{54330, ""}, {54331, ""}, {54332, "/srv/tolvane-home/.local/share"}};
  for (const auto& c : cases) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount((t / "passwd").c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0) {
        _exit(77);
      }
      if (setgid(c.uid) != 0 || setuid(c.uid) != 0) _exit(2);
      unsetenv("HOME");
      unsetenv("XDG_DATA_HOME");
      const std::string folder = GetLocalAppDataFolder();
      _exit(write(fds[1], folder.data(), folder.size()) == static_cast<ssize_t>(folder.size()) ? 0 : 3);
    }
    close(fds[1]);
    std::string folder;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) folder.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace here";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(folder, c.folder) << c.uid;
  }
}
