// The named mutex's rules on every system. Ownership is handed from one
// thread to another only where the system lets it (on Windows a thread
// owns), so every test here waits and releases on one thread per handle.
#include "platform/mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <thread>
#include <vector>

#include "mutex_fixture.h"
#include "support/support.h"

using namespace platform;
using namespace std::chrono_literals;
using testing_support::BackgroundProcess;
using testing_support::WaitFor;

TEST_F(NamedMutexTest, OwnershipIsOneAndNotCounted) {
  const std::string name = Name("Launcher_Update");
  MutexHandle a = Create(name, false);
  MutexHandle b = Create(name, true);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(WaitNamedMutex(a, -1));
  EXPECT_TRUE(WaitNamedMutex(a, 0));  // its own ownership, not counted again
  OnAnotherThread([&] { EXPECT_FALSE(WaitNamedMutex(b, 0)); });
  ReleaseNamedMutex(a);  // one release ends it
  // Closing releases: a gets it without b's release.
  OnAnotherThread([&] {
    EXPECT_TRUE(WaitNamedMutex(b, 0));
    CloseNamedMutex(b);
  });
  EXPECT_TRUE(WaitNamedMutex(a, 0));
  CloseNamedMutex(a);
  // The last close leaves no trace: the name is new again.
  CloseNamedMutex(Create(name, false));
  CloseNamedMutex(nullptr);
  EXPECT_FALSE(WaitNamedMutex(nullptr, 0));
  ReleaseNamedMutex(nullptr);
}

TEST_F(NamedMutexTest, TimedWaitExpires) {
  const std::string name = Name("m");
  MutexHandle a = Create(name, false);
  MutexHandle b = Create(name, true);
  ASSERT_TRUE(WaitNamedMutex(a, -1));
  OnAnotherThread([&] {
    for (int limit : {0, 1, 150}) {
      auto t0 = std::chrono::steady_clock::now();
      EXPECT_FALSE(WaitNamedMutex(b, limit)) << limit;
      auto took = std::chrono::steady_clock::now() - t0;
      EXPECT_GE(took, std::chrono::milliseconds(limit)) << limit;
      EXPECT_LT(took, std::chrono::milliseconds(limit) + 500ms) << limit;
    }
  });
  // A limited wait that ends in time succeeds.
  std::atomic<bool> waiting{false};
  std::thread waiter([&] {
    waiting = true;
    EXPECT_TRUE(WaitNamedMutex(b, 5000));
    CloseNamedMutex(b);
  });
  ASSERT_TRUE(WaitFor([&] { return waiting.load(); }, 5s));
  std::this_thread::sleep_for(100ms);
  ReleaseNamedMutex(a);
  waiter.join();
  CloseNamedMutex(a);
}

TEST_F(NamedMutexTest, AnotherProcessSeesTheHolderAndWaits) {
  const std::string name = Name("shared");
  MutexHandle h = Create(name, false);
  ASSERT_TRUE(WaitNamedMutex(h, -1));
  auto child = StartChild(name, 200, true);
  EXPECT_EQ(child->ReadLine(10s), "owned 0");
  child->Stop();

  // After the child has ended, a second one that waits gets the mutex
  // as soon as it is released.
  child = StartChild(name, -1, true);
  EXPECT_EQ(child->ReadLine(300ms), std::nullopt);
  ReleaseNamedMutex(h);
  EXPECT_EQ(child->ReadLine(10s), "owned 1");
  EXPECT_FALSE(WaitNamedMutex(h, 0));
  child->Stop();
  CloseNamedMutex(h);
}

TEST_F(NamedMutexTest, KilledHolderFreesTheNameAndAWaiterGetsIt) {
  const std::string name = Name("Launcher_Update");
  auto holder = StartChild(name, -1, false);
  ASSERT_EQ(holder->ReadLine(10s), "owned 1");
  MutexHandle h = Create(name, true);
  std::atomic<bool> owned{false};
  std::thread waiter([&] {
    owned = WaitNamedMutex(h, -1);
    CloseNamedMutex(h);
  });
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(owned);
  holder->Stop();  // killed: no chance to clean up
  EXPECT_TRUE(WaitFor([&] { return owned.load(); }, 10s));
  waiter.join();
  // What it left behind does not make the name exist.
  CloseNamedMutex(Create(name, false));
}

TEST_F(NamedMutexTest, StartedProgramsDoNotInheritHandles) {
  const std::string name = Name("inherit");
  MutexHandle h = Create(name, false);
  ASSERT_TRUE(WaitNamedMutex(h, -1));
  // Any program that stays a while: this one holds a mutex of another name.
  auto other = StartChild(Name("other"), -1, false);
  CloseNamedMutex(h);
  MutexHandle again = Create(name, false);
  EXPECT_TRUE(WaitNamedMutex(again, 0));
  CloseNamedMutex(again);
  other->Stop();
}

TEST_F(NamedMutexTest, CreateAnswersExistenceWithoutRaces) {
  constexpr int kThreads = 8;
  const std::string name = Name("race");
  for (int round = 0; round < 20; ++round) {
    std::latch start(kThreads);
    std::vector<MutexHandle> handles(kThreads);
    std::vector<int> existed(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        start.arrive_and_wait();
        bool e = false;
        handles[i] = CreateNamedMutex(name, e);
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
  // what the name stands on: a lock taken on something removed would let
  // two in at once.
  const std::string name = Name("busy");
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&] {
      for (int pass = 0; pass < 150; ++pass) {
        bool existed = false;
        MutexHandle h = CreateNamedMutex(name, existed);
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
