// What only a POSIX descriptor can be made to do.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "loopback.h"
#include "net/sock.h"

using loopback::Clock;
using loopback::MillisecondsSince;

TEST(SockRecv, KeepsItsLimitOnADescriptorThatBlocks) {
  // The receive is tried before the wait: it must not sit in the kernel
  // until the data comes when the descriptor was handed over blocking.
  loopback::Listener listener;
  loopback::Connection c = loopback::Connect(listener);
  const int fd = static_cast<int>(c.ours);
  ASSERT_EQ(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK), 0);
  std::thread late = loopback::SendLater(c.peer, "late", 1500);
  char buffer[8] = {};
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(SockRecv(c.ours, buffer, sizeof buffer, 200), -1);
  EXPECT_LT(MillisecondsSince(start), 1000);
  late.join();
  EXPECT_EQ(SockRecv(c.ours, buffer, sizeof buffer, 2000), 4);
  EXPECT_EQ(std::string(buffer, 4), "late");
  loopback::CloseConnection(c);
}
