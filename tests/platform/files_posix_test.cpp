#include "platform/files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>

#include "support/support.h"

using namespace platform;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// The cases of a rename that must never replace anything; false at the
// first that fails, with what failed in `failed`.
bool RenameCasesHold(const std::string& dir, std::string& failed) {
  auto check = [&](bool ok, const char* what) {
    if (!ok && failed.empty()) failed = what;
    return ok;
  };
  WriteFile(dir + "/Setup.exe", "new");
  WriteFile(dir + "/Launcher.exe", "old");
  WriteFile(dir + "/Other.exe", "other", 0755);
  mkdir((dir + "/Folder.exe").c_str(), 0755);
  symlink("nowhere", (dir + "/Dangling.exe").c_str());
  return check(!RenameNoReplace(dir + "/Setup.exe", dir + "/Launcher.exe"), "onto a file") &&
         check(ReadFile(dir + "/Launcher.exe") == "old" && ReadFile(dir + "/Setup.exe") == "new", "files unchanged") &&
         check(!RenameNoReplace(dir + "/Setup.exe", dir + "/Setup.exe"), "onto itself") &&
         check(ReadFile(dir + "/Setup.exe") == "new", "itself unchanged") &&
         check(!RenameNoReplace(dir + "/Setup.exe", dir + "/Folder.exe"), "onto a directory") &&
         check(!RenameNoReplace(dir + "/Setup.exe", dir + "/Dangling.exe"), "onto a dangling link") &&
         check(Exists(dir + "/Dangling.exe") && !Exists(dir + "/nowhere"), "link unchanged") &&
         check(!RenameNoReplace(dir + "/Missing.exe", dir + "/New.exe"), "a missing file") &&
         check(!Exists(dir + "/New.exe"), "nothing made") &&
         check(RenameNoReplace(dir + "/Other.exe", dir + "/Game.exe"), "to a new name") &&
         check(!Exists(dir + "/Other.exe") && ReadFile(dir + "/Game.exe") == "other", "moved") &&
         check(access((dir + "/Game.exe").c_str(), X_OK) == 0, "mode kept");
}

}  // namespace

TEST(Files, EnumerateCountsALinkToADirectoryAsNoDirectory) {
  TempDir t;
  WriteFile(t / "sub/inner.exe", "");
  symlink("/", (t / "link").c_str());
  std::vector<DirEntry> entries;
  ASSERT_TRUE(EnumerateDirectory(t.path(), "*.*", entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.strName + (e.bDirectory ? "/" : ""));
  EXPECT_EQ(names, (std::vector<std::string>{"link", "sub/"}));
}

TEST(Files, ExistsAndIsDirectoryThroughLinks) {
  TempDir t;
  WriteFile(t / "f", "x");
  symlink("missing", (t / "dangling").c_str());
  symlink(t.path().c_str(), (t / "dirlink").c_str());
  EXPECT_TRUE(PathExists(t / "f"));
  EXPECT_FALSE(PathIsDirectory(t / "f"));
  EXPECT_TRUE(PathExists(t.path()));
  EXPECT_TRUE(PathIsDirectory(t.path()));
  EXPECT_FALSE(PathExists(t / "dangling"));
  EXPECT_FALSE(PathIsDirectory(t / "dangling"));
  EXPECT_TRUE(PathIsDirectory(t / "dirlink"));
  EXPECT_FALSE(PathExists(t / "missing"));
}

TEST(Files, ResetAttributesGivesWriteBackButNotThroughLinks) {
  TempDir t;
  WriteFile(t / "ro", "x", 0444);
  WriteFile(t / "target", "x", 0444);
  symlink((t / "target").c_str(), (t / "link").c_str());
  struct stat st;
  EXPECT_TRUE(ResetAttributes(t / "ro"));
  ASSERT_EQ(stat((t / "ro").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_FALSE(ResetAttributes(t / "link"));
  ASSERT_EQ(stat((t / "target").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
}

TEST(Files, RenameNeverReplacesLinksAndKeepsTheMode) {
  TempDir t;
  std::string failed;
  EXPECT_TRUE(RenameCasesHold(t.path(), failed)) << failed;
}

TEST(Files, RenameNeverReplacesWithoutTheKernelsNoReplaceFlag) {
  // In a child whose renameat2 fails as on an old kernel, the link and
  // unlink way must keep the same promises.
  TempDir t;
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog prog{static_cast<unsigned short>(std::size(filter)), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0) _exit(77);
    if (syscall(SYS_renameat2, AT_FDCWD, "a", AT_FDCWD, "b", 0) == 0 || errno != ENOSYS) _exit(78);
    std::string failed;
    bool ok = RenameCasesHold(t.path(), failed);
    if (!ok) std::fprintf(stderr, "failed: %s\n", failed.c_str());
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no seccomp filter can be installed here";
  EXPECT_NE(WEXITSTATUS(status), 78) << "the filter did not take";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
