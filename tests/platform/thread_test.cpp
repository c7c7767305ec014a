#include "platform/thread.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace platform;

TEST(Thread, CurrentThreadIdTellsThreadsApart) {
  const std::uint32_t mine = CurrentThreadId();
  EXPECT_EQ(mine, CurrentThreadId());
  EXPECT_EQ(mine, static_cast<std::uint32_t>(getpid()));  // the main thread
  std::uint32_t other = 0;
  std::thread t([&] { other = CurrentThreadId(); });
  t.join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}
