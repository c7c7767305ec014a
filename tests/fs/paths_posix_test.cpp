// Links, modes, owners and the XDG variables: rules of the Linux build.
#include "fs/paths.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "support/support.h"

using namespace testing_support;

TEST(IsExistingFile, LinksCountByTheirTarget) {
  TempDir t;
  WriteFile(t / "file", "data");
  ASSERT_EQ(symlink("nowhere", (t / "dangling").c_str()), 0);
  ASSERT_EQ(symlink((t / "file").c_str(), (t / "filelink").c_str()), 0);
  EXPECT_TRUE(IsExistingFile((t / "filelink").c_str()));
  EXPECT_FALSE(IsExistingFile((t / "dangling").c_str()));  // an updater that is not there
}

TEST(DeleteDirectoryContents, ReadOnlyDirectoriesOfAnOrdinaryUser) {
  // Permission bits bind only users other than root: run the deletion as one.
  TempDir t;
  std::string dir = t / "data";
  WriteFile(dir + "/locked/inner/file.txt", "x", 0444);
  chmod((dir + "/locked/inner").c_str(), 0555);
  chmod((dir + "/locked").c_str(), 0555);
  const uid_t uid = getuid() == 0 ? 54321 : getuid();
  if (getuid() == 0) {
    chmod(t.path().c_str(), 0755);
    for (const std::string& rel : ListTree(dir)) ASSERT_EQ(lchown((dir + "/" + rel).c_str(), uid, uid), 0);
    ASSERT_EQ(lchown(dir.c_str(), uid, uid), 0);
  }
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (getuid() == 0 && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(2);
    DeleteDirectoryContents(dir);
    _exit(ListTree(dir).empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "left: " << ListTree(dir).size() << " entries";
}

TEST(DeleteDirectoryContents, LinksAreRemovedNeverFollowed) {
  TempDir t;
  std::string dir = t / "data";
  std::string outside = t / "outside";
  WriteFile(outside + "/keep.txt", "keep", 0444);
  WriteFile(outside + "/nested/keep2.txt", "keep");
  WriteFile(dir + "/own.txt", "x");
  mkdir((dir + "/sub").c_str(), 0755);
  ASSERT_EQ(symlink(outside.c_str(), (dir + "/sub/dirlink").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/keep.txt").c_str(), (dir + "/filelink").c_str()), 0);
  // A hard link shares its mode with the file outside: it is only unlinked.
  ASSERT_EQ(link((outside + "/keep.txt").c_str(), (dir + "/sub/hardlink").c_str()), 0);

  DeleteDirectoryContents(dir);

  EXPECT_TRUE(ListTree(dir).empty());
  EXPECT_EQ(ListTree(outside), (std::vector<std::string>{"keep.txt", "nested/", "nested/keep2.txt"}));
  struct stat st;
  ASSERT_EQ(stat((outside + "/keep.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u) << "the link's target lost its read-only mode";
}

TEST(DeleteDirectoryContents, DirectorySwappedForALinkDuringTheWalkIsNotFollowed) {
  // Once the walk has listed the directory and removed its first entry,
  // each directory zK changes places with lK, a link to outside/K. A walk
  // by path would descend through the link into outside/K.
  TempDir t;
  const std::string dir = t / "data";
  std::vector<std::string> outsideTree;
  for (int k = 0; k < 10; ++k) {
    const std::string n = std::to_string(k);
    WriteFile(t / ("outside/" + n + "/keep.txt"), "keep");
    outsideTree.insert(outsideTree.end(), {n + "/", n + "/keep.txt"});
    WriteFile(dir + "/z" + n + "/own.txt", "x");
    ASSERT_EQ(symlink((t / ("outside/" + n)).c_str(), (dir + "/l" + n).c_str()), 0);
  }
  for (int i = 0; i < 2000; ++i) WriteFile(dir + "/f" + std::to_string(10000 + i), "x");
  std::sort(outsideTree.begin(), outsideTree.end());

  const int watch = inotify_init1(IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, dir.c_str(), IN_DELETE), 0);
  int swapped = 0;
  std::thread swapper([&] {
    pollfd p{watch, POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) return;
    for (int k = 0; k < 10; ++k) {
      const std::string n = std::to_string(k);
      if (renameat2(AT_FDCWD, (dir + "/z" + n).c_str(), AT_FDCWD, (dir + "/l" + n).c_str(), RENAME_EXCHANGE) == 0)
        ++swapped;
    }
  });
  DeleteDirectoryContents(dir);
  swapper.join();
  close(watch);

  EXPECT_GT(swapped, 0) << "the walk was over before anything could be swapped";
  EXPECT_EQ(ListTree(t / "outside"), outsideTree);
  // A link listed as such that became a directory goes as well.
  EXPECT_EQ(ListTree(dir), std::vector<std::string>{});
}

TEST(GetDataDirectory, Composition) {
  struct Case {
    const char* name;
    std::optional<std::string> xdg, home;
    std::string expected;
  };
  const Case cases[] = {
      {"xdg", "/x/data", "/h", "/x/data/Launcher/"},
      {"xdg with trailing slash", "/x/data/", "/h", "/x/data/Launcher/"},
      {"xdg unset", std::nullopt, "/h", "/h/.local/share/Launcher/"},
      {"home with trailing slash", std::nullopt, "/h/", "/h/.local/share/Launcher/"},
  };
  for (const Case& c : cases) {
    ScopedEnv env;
    if (c.xdg) env.Set("XDG_DATA_HOME", *c.xdg); else env.Unset("XDG_DATA_HOME");
    if (c.home) env.Set("HOME", *c.home); else env.Unset("HOME");
    EXPECT_EQ(GetDataDirectory("Launcher"), c.expected) << c.name;
  }
}
