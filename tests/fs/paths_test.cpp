#include "fs/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/support.h"

using namespace testing_support;

namespace {

// Runs the body with the current directory in dir, restoring it after.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir) {
    char buf[4096];
    m_saved = getcwd(buf, sizeof buf) ? buf : "/";
    EXPECT_EQ(chdir(dir.c_str()), 0);
  }
  ~ScopedCwd() { EXPECT_EQ(chdir(m_saved.c_str()), 0); }

 private:
  std::string m_saved;
};

}  // namespace

TEST(IsExistingFile, FilesOnlyOfAnySize) {
  TempDir t;
  WriteFile(t / "file", "data");
  WriteFile(t / "empty", "");
  ASSERT_EQ(symlink("nowhere", (t / "dangling").c_str()), 0);
  ASSERT_EQ(symlink((t / "file").c_str(), (t / "filelink").c_str()), 0);
  EXPECT_TRUE(IsExistingFile((t / "file").c_str()));
  EXPECT_TRUE(IsExistingFile((t / "filelink").c_str()));
  EXPECT_FALSE(IsExistingFile((t / "dangling").c_str()));  // an updater that is not there
  EXPECT_TRUE(IsExistingFile((t / "empty").c_str()));
  EXPECT_FALSE(IsExistingFile(t.path().c_str()));
  EXPECT_FALSE(IsExistingFile((t / "missing").c_str()));
  EXPECT_FALSE(IsExistingFile(nullptr));
}

TEST(CreateDirectoryTree, EmptyPathDoesNothing) {
  TempDir t;
  ScopedCwd cwd(t.path());
  EXPECT_FALSE(CreateDirectoryTree(""));
  EXPECT_TRUE(ListTree(t.path()).empty());
}

TEST(CreateDirectoryTree, RelativePathBelowCurrentDirectory) {
  TempDir t;
  ScopedCwd cwd(t.path());
  EXPECT_TRUE(CreateDirectoryTree("a/b/c"));
  EXPECT_EQ(ListTree(t.path()), (std::vector<std::string>{"a/", "a/b/", "a/b/c/"}));
}

TEST(CreateDirectoryTree, AbsoluteExistingAndUncreatable) {
  TempDir t;
  EXPECT_TRUE(CreateDirectoryTree(t / "x/y/"));
  EXPECT_TRUE(IsDir(t / "x/y"));
  EXPECT_TRUE(CreateDirectoryTree(t / "x/y/"));  // all exist
  WriteFile(t / "file", "");
  EXPECT_TRUE(CreateDirectoryTree(t / "file/sub/deeper"));  // cannot be made, still TRUE
  EXPECT_FALSE(Exists(t / "file/sub"));
}

TEST(DeleteDirectoryContents, EmptiesNestedTreeWithReadOnlyFiles) {
  for (bool trailingSlash : {false, true}) {
    TempDir t;
    std::string dir = t / "data";
    WriteFile(dir + "/update.ini", "x");
    WriteFile(dir + "/Game/Launcher.exe", "x", 0555);
    WriteFile(dir + "/Game/sub/deep/readme.txt", "x", 0444);
    mkdir((dir + "/empty").c_str(), 0755);
    DeleteDirectoryContents(trailingSlash ? dir + "/" : dir);
    EXPECT_TRUE(IsDir(dir)) << trailingSlash;
    EXPECT_TRUE(ListTree(dir).empty()) << trailingSlash;
  }
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

  DeleteDirectoryContents(dir);

  EXPECT_TRUE(ListTree(dir).empty());
  EXPECT_EQ(ListTree(outside), (std::vector<std::string>{"keep.txt", "nested/", "nested/keep2.txt"}));
  struct stat st;
  ASSERT_EQ(stat((outside + "/keep.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u) << "the link's target lost its read-only mode";
}

TEST(DeleteDirectoryContents, MissingOrEmptyPathDoesNothing) {
  TempDir t;
  WriteFile(t / "file", "x");
  DeleteDirectoryContents(t / "missing");
  DeleteDirectoryContents(t / "file");  // not a directory
  {
    ScopedCwd cwd(t.path());
    DeleteDirectoryContents("");  // must not mean the current directory
  }
  EXPECT_EQ(ListTree(t.path()), (std::vector<std::string>{"file"}));
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

TEST(GetModulePath, IsTheRunningProgram) {
  std::string path = GetModulePath();
  EXPECT_NE(path.find("/fs_test"), std::string::npos) << path;
  EXPECT_TRUE(IsExistingFile(path.c_str()));
}
