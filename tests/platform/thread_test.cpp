#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace platform;

TEST(Thread, CurrentThreadIdTellsThreadsApart) {
  const std::uint32_t mine = CurrentThreadId();
  EXPECT_EQ(mine, CurrentThreadId());
  std::uint32_t other = 0;
  std::thread t([&] { other = CurrentThreadId(); });
  t.join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

namespace {

struct Work {
  std::atomic<int> runs{0};
  std::uint32_t threadId = 0;
};

void DoWork(void* arg) {
  Work* w = static_cast<Work*>(arg);
  w->threadId = CurrentThreadId();
  ++w->runs;
}

}  // namespace

TEST(Thread, RunsTheProcedureOnAThreadOfItsOwn) {
  Work first, second;
  {
    Thread thread;
    thread.Join();  // nothing runs yet
    ASSERT_TRUE(thread.Start(DoWork, &first));
    thread.Join();
    EXPECT_EQ(first.runs, 1);
    EXPECT_NE(first.threadId, CurrentThreadId());
    thread.Join();  // once is enough
    // Started again it waits for nothing of the first run; the destructor joins.
    ASSERT_TRUE(thread.Start(DoWork, &second));
  }
  EXPECT_EQ(second.runs, 1);
  EXPECT_EQ(first.runs, 1);
}
