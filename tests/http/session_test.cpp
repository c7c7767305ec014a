#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "http/session.h"
#include "net/recv_buffer.h"
#include "support/support.h"

using testing_support::OpenHandleCount;

namespace {

// What the process holds open once the socket layer has made a socket:
// Winsock (Wine's at least) keeps a handle of its own from the first one on.
int HandlesBeforeOpening() {
  CHttpDownload first;
  EXPECT_TRUE(first.OpenConnection());
  first.CloseConnection();
  return OpenHandleCount();
}

// The session's pair belongs together: a socket and a ring over it.
void ExpectConnection(const CHttpDownload& session) {
  ASSERT_NE(session.m_hSocket, INVALID_SOCKET);
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
  int before = OpenHandleCount();
  { CHttpDownload session; }
  EXPECT_EQ(OpenHandleCount(), before);
}

TEST(Session, OpenTwiceLeavesOnePair) {
  int before = HandlesBeforeOpening();
  CHttpDownload session;
  ASSERT_TRUE(session.OpenConnection());
  ExpectConnection(session);
  EXPECT_EQ(OpenHandleCount(), before + 1);
  ASSERT_TRUE(session.OpenConnection());
  ExpectConnection(session);
  EXPECT_EQ(OpenHandleCount(), before + 1);
}

TEST(Session, CloseAndDestroyDropThePair) {
  int before = HandlesBeforeOpening();
  {
    CHttpDownload session;
    ASSERT_TRUE(session.OpenConnection());
    session.CloseConnection();
    EXPECT_EQ(session.m_hSocket, INVALID_SOCKET);
    EXPECT_EQ(session.m_pRecvBuffer, nullptr);
    EXPECT_EQ(OpenHandleCount(), before);
    session.CloseConnection();
    EXPECT_EQ(OpenHandleCount(), before);
    ASSERT_TRUE(session.OpenConnection());
    EXPECT_EQ(OpenHandleCount(), before + 1);
  }
  EXPECT_EQ(OpenHandleCount(), before);
}

}  // namespace
