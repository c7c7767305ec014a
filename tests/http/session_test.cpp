#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "http/session.h"
#include "net/recv_buffer.h"

namespace {

int OpenDescriptors() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(dir);
  return n - 1;  // the directory's own descriptor
}

ino_t Inode(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// The session's pair belongs together: a stream socket and a ring over it.
void ExpectConnection(const CHttpDownload& session) {
  ASSERT_NE(session.m_hSocket, INVALID_SOCKET);
  int type = 0;
  socklen_t length = sizeof type;
  ASSERT_EQ(getsockopt(session.m_hSocket, SOL_SOCKET, SO_TYPE, &type, &length), 0);
  EXPECT_EQ(type, SOCK_STREAM);
  ASSERT_NE(session.m_pRecvBuffer, nullptr);
  EXPECT_EQ(session.m_pRecvBuffer->hSocket, session.m_hSocket);
  EXPECT_EQ(session.m_pRecvBuffer->nCapacity, 10240);
  EXPECT_EQ(session.m_pRecvBuffer->nCount, 0);
}

TEST(Session, StartsWithoutConnectionAndDefaultSettings) {
  CHttpDownload session;
  EXPECT_EQ(session.m_hSocket, INVALID_SOCKET);
  EXPECT_EQ(session.m_pRecvBuffer, nullptr);
  EXPECT_EQ(session.m_hMutex, nullptr);
  EXPECT_EQ(session.m_hNotifyWnd, nullptr);
  EXPECT_EQ(session.m_nPort, 80);
  EXPECT_EQ(session.m_nProxyType, PROXY_DIRECT);
  EXPECT_EQ(session.m_strUserAgent, "HttpDownload/2.0");
  EXPECT_EQ(session.m_nConnectTimeout, 10000);
  EXPECT_EQ(session.m_nReceiveTimeout, 10000);
  EXPECT_EQ(session.m_nSendTimeout, 10000);
  EXPECT_EQ(session.m_strTempSuffix, ".down");
  EXPECT_EQ(session.m_bStop, FALSE);
  EXPECT_EQ(session.m_tLastModified, 0);
}

TEST(Session, TempSuffixKeepsTheSign) {
  for (auto [seed, suffix] : {std::pair{-5, ".down-5"}, {42, ".down42"}, {0, ".down0"},
                              {INT_MIN, ".down-2147483648"}, {INT_MAX, ".down2147483647"}}) {
    CHttpDownload session;
    session.SetTempSuffix(seed);
    EXPECT_EQ(session.m_strTempSuffix, suffix) << seed;
  }
}

TEST(Session, NeverConnectedDestroysWithoutClosingAnything) {
  int before = OpenDescriptors();
  { CHttpDownload session; }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(Session, OpenTwiceLeavesOnePair) {
  int before = OpenDescriptors();
  CHttpDownload session;
  ASSERT_TRUE(session.OpenConnection());
  ExpectConnection(session);
  EXPECT_EQ(OpenDescriptors(), before + 1);
  int first = session.m_hSocket;
  ino_t firstInode = Inode(first);

  ASSERT_TRUE(session.OpenConnection());
  ExpectConnection(session);
  EXPECT_EQ(OpenDescriptors(), before + 1);
  // The number may come back, but it must name a new socket.
  if (session.m_hSocket == first) {
    EXPECT_NE(Inode(first), firstInode);
  } else {
    EXPECT_EQ(fcntl(first, F_GETFD), -1);
  }
}

TEST(Session, CloseAndDestroyDropThePair) {
  int before = OpenDescriptors();
  {
    CHttpDownload session;
    ASSERT_TRUE(session.OpenConnection());
    session.CloseConnection();
    EXPECT_EQ(session.m_hSocket, INVALID_SOCKET);
    EXPECT_EQ(session.m_pRecvBuffer, nullptr);
    EXPECT_EQ(OpenDescriptors(), before);
    session.CloseConnection();
    EXPECT_EQ(OpenDescriptors(), before);
    ASSERT_TRUE(session.OpenConnection());
    EXPECT_EQ(OpenDescriptors(), before + 1);
  }
  EXPECT_EQ(OpenDescriptors(), before);
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
