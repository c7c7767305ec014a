#include "platform/thread.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace platform;

TEST(Thread, MainThreadIdIsTheProcessId) { EXPECT_EQ(CurrentThreadId(), static_cast<std::uint32_t>(getpid())); }
