// The lock files of the POSIX named mutex: their names, their directory,
// and what a hostile one is refused for.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "mutex_fixture.h"
#include "platform/mutex.h"
#include "support/support.h"

using namespace platform;
using testing_support::IsDir;
using testing_support::ListTree;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFile;

// Ownership is the handle's, even on one thread; the lock files go with
// the last close.
TEST_F(NamedMutexTest, TwoHandlesOnOneThread) {
  MutexHandle a = Create("Launcher_Update", false);
  MutexHandle b = Create("Launcher_Update", true);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(WaitNamedMutex(a, -1));
  EXPECT_TRUE(WaitNamedMutex(a, 0));  // its own ownership
  EXPECT_FALSE(WaitNamedMutex(b, 0));
  ReleaseNamedMutex(a);
  EXPECT_TRUE(WaitNamedMutex(b, 0));
  CloseNamedMutex(b);
  EXPECT_TRUE(WaitNamedMutex(a, 0));
  CloseNamedMutex(a);
  EXPECT_EQ(ListTree(m_runtime.path()), (std::vector<std::string>{"tolvane/", "tolvane/guard"}));
}

TEST_F(NamedMutexTest, NamesNeverShareAMutex) {
  const std::string longName(1000, 'x');
  std::string nearlyLong(1000, 'x');
  nearlyLong[500] = 'y';
  const std::vector<std::string> names = {
      "", ".", "..", "a/b", "a\\b", "a_b", "a%2Fb", "a%2fb", "a.b", "a b", "A/B", "/", "../x",
      "\xE7\x82\xB9\xE5\x87\xBB", std::string("a\0b", 3), "a", std::string(200, 'z'), std::string(201, 'z'),
      std::string(66, '/'), std::string(67, '/'), longName, longName + "x", "y" + longName, nearlyLong,
      std::string(100000, '\\'),
  };
  std::vector<MutexHandle> handles;
  for (const std::string& name : names) handles.push_back(Create(name, false));
  for (const std::string& name : names) CloseNamedMutex(Create(name, true));
  // Every lock file lies right inside the lock directory.
  for (const std::string& entry : ListTree(m_runtime.path())) EXPECT_EQ(entry.find('/', 8), std::string::npos) << entry;
  for (MutexHandle h : handles) CloseNamedMutex(h);
}

TEST_F(NamedMutexTest, LockFilesReplacedByLinksAreRefused) {
  MutexHandle h = Create("linked", false);
  TempDir elsewhere;
  const std::string dir = m_runtime / "tolvane";
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().filename() == "guard") continue;
    std::filesystem::remove(e.path());
    std::filesystem::create_symlink(elsewhere / e.path().filename().string(), e.path());
  }
  bool existed = true;
  EXPECT_EQ(CreateNamedMutex("linked", existed), nullptr);
  EXPECT_FALSE(existed);
  EXPECT_TRUE(ListTree(elsewhere.path()).empty());
  CloseNamedMutex(h);
}

TEST(NamedMutexDirectory, HostileLockDirectoryIsRefused) {
  struct Case {
    const char* what;
    std::function<bool(const std::string& dir, const std::string& aside)> make;  // false: cannot be set up
  };
  std::vector<Case> cases = {
      {"a link to a directory of ours",
       [](const std::string& dir, const std::string& aside) {
         return mkdir(aside.c_str(), 0700) == 0 && symlink(aside.c_str(), dir.c_str()) == 0;
       }},
      {"a dangling link", [](const std::string& dir, const std::string& aside) { return symlink(aside.c_str(), dir.c_str()) == 0; }},
      {"a directory others may enter",
       [](const std::string& dir, const std::string&) { return mkdir(dir.c_str(), 0700) == 0 && chmod(dir.c_str(), 0755) == 0; }},
      {"a directory others may write",
       [](const std::string& dir, const std::string&) { return mkdir(dir.c_str(), 0700) == 0 && chmod(dir.c_str(), 01777) == 0; }},
      {"a file", [](const std::string& dir, const std::string&) { WriteFile(dir, ""); return true; }},
  };
  // Another owner can only be made by root.
  if (geteuid() == 0) {
    cases.push_back({"another user's directory", [](const std::string& dir, const std::string&) {
                       return mkdir(dir.c_str(), 0700) == 0 && chown(dir.c_str(), 54321, 54321) == 0;
                     }});
  }
  for (const Case& c : cases) {
    TempDir runtime;
    ScopedEnv env;
    env.Set("XDG_RUNTIME_DIR", runtime.path());
    const std::string dir = runtime / "tolvane", aside = runtime / "aside";
    if (!c.make(dir, aside)) {
      ADD_FAILURE() << "cannot set up " << c.what;
      continue;
    }
    const auto before = ListTree(runtime.path());
    bool existed = true;
    EXPECT_EQ(CreateNamedMutex("Launcher_Update", existed), nullptr) << c.what;
    EXPECT_FALSE(existed) << c.what;
    EXPECT_EQ(ListTree(runtime.path()), before) << c.what;
  }
}

TEST(NamedMutexDirectory, MadeOwnerOnlyUnderAnyUmask) {
  TempDir runtime;
  ScopedEnv env;
  env.Set("XDG_RUNTIME_DIR", runtime.path());
  mode_t old = umask(0);
  bool existed = true;
  MutexHandle h = CreateNamedMutex("m", existed);
  umask(old);
  ASSERT_NE(h, nullptr);
  struct stat st;
  ASSERT_EQ(lstat((runtime / "tolvane").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  CloseNamedMutex(h);
}

TEST(NamedMutexDirectory, WithoutARuntimeDirectoryUsesOneInTmp) {
  const std::string expected = "/tmp/tolvane-" + std::to_string(geteuid());
  const std::string name = "tolvane-test-" + std::to_string(getpid());
  for (const char* runtime : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
    ScopedEnv env;
    if (runtime) env.Set("XDG_RUNTIME_DIR", runtime);
    else env.Unset("XDG_RUNTIME_DIR");
    bool existed = true;
    MutexHandle h = CreateNamedMutex(name, existed);
    ASSERT_NE(h, nullptr) << (runtime ? runtime : "unset");
    EXPECT_FALSE(existed);
    EXPECT_TRUE(IsDir(expected));
    EXPECT_FALSE(IsDir("relative"));
    CloseNamedMutex(h);
  }
}
