// Descriptor numbers and their limit: rules of the Linux build.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "http/session.h"
#include "net/recv_buffer.h"

namespace {

ino_t Inode(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? st.st_ino : 0;
}

int SocketType(int fd) {
  int type = 0;
  socklen_t length = sizeof type;
  return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 ? type : -1;
}

TEST(Session, ReopenedNumberNamesANewStreamSocket) {
  CHttpDownload session;
  ASSERT_TRUE(session.OpenConnection());
  EXPECT_EQ(SocketType(session.m_hSocket), SOCK_STREAM);
  int first = session.m_hSocket;
  ino_t firstInode = Inode(first);

  ASSERT_TRUE(session.OpenConnection());
  EXPECT_EQ(SocketType(session.m_hSocket), SOCK_STREAM);
  // The number may come back, but it must name a new socket.
  if (session.m_hSocket == first) {
    EXPECT_NE(Inode(first), firstInode);
  } else {
    EXPECT_EQ(fcntl(first, F_GETFD), -1);
  }
}

TEST(Session, OpenFailsWithoutADescriptorToSpare) {
  CHttpDownload session;
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  // The lowest free number becomes the limit, so no new descriptor fits.
  int lowest = dup(0);
  ASSERT_GE(lowest, 0);
  close(lowest);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowest);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  BOOL opened = session.OpenConnection();
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_FALSE(opened);
  EXPECT_EQ(session.m_hSocket, INVALID_SOCKET);
  EXPECT_EQ(session.m_pRecvBuffer, nullptr);
}

}  // namespace
