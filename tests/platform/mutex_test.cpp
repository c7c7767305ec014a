#include "platform/mutex.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <latch>
#include <thread>
#include <vector>

#include "support/support.h"

using namespace platform;
using namespace std::chrono_literals;
using testing_support::BackgroundProcess;
using testing_support::IsDir;
using testing_support::ListTree;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WaitFor;
using testing_support::WriteFile;

namespace {

// Every test gets a runtime directory of its own.
class NamedMutexTest : public ::testing::Test {
 protected:
  NamedMutexTest() { m_env.Set("XDG_RUNTIME_DIR", m_runtime.path()); }

  MutexHandle Create(const std::string& name, bool expectExisted) {
    bool existed = !expectExisted;
    MutexHandle h = CreateNamedMutex(name, existed);
    EXPECT_NE(h, nullptr) << name;
    EXPECT_EQ(existed, expectExisted) << name;
    return h;
  }

  // The child of mutex_child.cpp; its first line says whether the name existed.
  std::unique_ptr<BackgroundProcess> StartChild(const std::string& name, int waitMs, bool expectExisted) {
    auto child = std::make_unique<BackgroundProcess>(std::vector<std::string>{TOLVANE_MUTEX_CHILD, name, std::to_string(waitMs)});
    EXPECT_EQ(child->ReadLine(10s), expectExisted ? "existed 1" : "existed 0");
    return child;
  }

  TempDir m_runtime;
  ScopedEnv m_env;
};

}  // namespace

TEST_F(NamedMutexTest, TwoHandlesInOneProcess) {
  MutexHandle a = Create("Launcher_Update", false);
  MutexHandle b = Create("Launcher_Update", true);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(WaitNamedMutex(a, -1));
  EXPECT_TRUE(WaitNamedMutex(a, 0));  // its own ownership
  EXPECT_FALSE(WaitNamedMutex(b, 0));
  ReleaseNamedMutex(a);
  EXPECT_TRUE(WaitNamedMutex(b, 0));
  // Closing releases: a gets it without b's release.
  CloseNamedMutex(b);
  EXPECT_TRUE(WaitNamedMutex(a, 0));
  CloseNamedMutex(a);
  // The last close leaves no trace: the name is new again, no files stay.
  MutexHandle c = Create("Launcher_Update", false);
  CloseNamedMutex(c);
  EXPECT_EQ(ListTree(m_runtime.path()), (std::vector<std::string>{"tolvane/", "tolvane/guard"}));
  CloseNamedMutex(nullptr);
  EXPECT_FALSE(WaitNamedMutex(nullptr, 0));
}

TEST_F(NamedMutexTest, TimedWaitExpires) {
  MutexHandle a = Create("m", false);
  MutexHandle b = Create("m", true);
  ASSERT_TRUE(WaitNamedMutex(a, -1));
  for (int limit : {0, 1, 150}) {
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitNamedMutex(b, limit)) << limit;
    auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(limit)) << limit;
    EXPECT_LT(took, std::chrono::milliseconds(limit) + 500ms) << limit;
  }
  // A limited wait that ends in time succeeds.
  std::thread releaser([&] {
    std::this_thread::sleep_for(100ms);
    ReleaseNamedMutex(a);
  });
  EXPECT_TRUE(WaitNamedMutex(b, 5000));
  releaser.join();
  CloseNamedMutex(a);
  CloseNamedMutex(b);
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

TEST_F(NamedMutexTest, AnotherProcessSeesTheHolderAndWaits) {
  MutexHandle h = Create("shared", false);
  ASSERT_TRUE(WaitNamedMutex(h, -1));
  auto child = StartChild("shared", 200, true);
  EXPECT_EQ(child->ReadLine(10s), "owned 0");
  child->Stop();

  // After the child has ended, a second one that waits gets the mutex
  // as soon as it is released.
  child = StartChild("shared", -1, true);
  EXPECT_EQ(child->ReadLine(300ms), std::nullopt);
  ReleaseNamedMutex(h);
  EXPECT_EQ(child->ReadLine(10s), "owned 1");
  EXPECT_FALSE(WaitNamedMutex(h, 0));
  child->Stop();
  CloseNamedMutex(h);
}

TEST_F(NamedMutexTest, KilledHolderFreesTheNameAndAWaiterGetsIt) {
  auto holder = StartChild("Launcher_Update", -1, false);
  ASSERT_EQ(holder->ReadLine(10s), "owned 1");
  MutexHandle h = Create("Launcher_Update", true);
  std::atomic<bool> owned{false};
  std::thread waiter([&] { owned = WaitNamedMutex(h, -1); });
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(owned);
  holder->Stop();  // killed: no chance to clean up
  EXPECT_TRUE(WaitFor([&] { return owned.load(); }, 10s));
  waiter.join();
  CloseNamedMutex(h);
  // Its stale files do not make the name exist.
  CloseNamedMutex(Create("Launcher_Update", false));
}

TEST_F(NamedMutexTest, StartedProgramsDoNotInheritHandles) {
  MutexHandle h = Create("inherit", false);
  ASSERT_TRUE(WaitNamedMutex(h, -1));
  BackgroundProcess sleeper({"sleep", "30"});
  CloseNamedMutex(h);
  MutexHandle again = Create("inherit", false);
  EXPECT_TRUE(WaitNamedMutex(again, 0));
  CloseNamedMutex(again);
}

TEST_F(NamedMutexTest, CreateAnswersExistenceWithoutRaces) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 20; ++round) {
    std::latch start(kThreads);
    std::vector<MutexHandle> handles(kThreads);
    std::vector<int> existed(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        start.arrive_and_wait();
        bool e = false;
        handles[i] = CreateNamedMutex("race", e);
        existed[i] = e;
      });
    }
    for (auto& t : threads) t.join();
    int fresh = 0;
    for (int i = 0; i < kThreads; ++i) {
      ASSERT_NE(handles[i], nullptr);
      fresh += existed[i] ? 0 : 1;
    }
    EXPECT_EQ(fresh, 1) << "round " << round;
    for (MutexHandle h : handles) CloseNamedMutex(h);
  }
}

TEST_F(NamedMutexTest, OwnershipStaysExclusiveWhileHandlesComeAndGo) {
  // Each pass opens, owns, releases and closes, and the last close removes
  // the files: a lock taken on a removed file would let two in at once.
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int pass = 0; pass < 150; ++pass) {
        bool existed = false;
        MutexHandle h = CreateNamedMutex("busy", existed);
        if (h == nullptr || !WaitNamedMutex(h, -1)) {
          overlap = true;
          return;
        }
        if (inside.fetch_add(1) != 0) overlap = true;
        std::this_thread::yield();
        inside.fetch_sub(1);
        ReleaseNamedMutex(h);
        CloseNamedMutex(h);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(overlap);
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
