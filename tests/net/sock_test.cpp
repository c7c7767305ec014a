#include "net/sock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "support/support.h"

using loopback::Clock;
using loopback::Connection;
using loopback::Listener;
using loopback::MillisecondsSince;

namespace {

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
  return s;
}

}  // namespace

TEST(SockStartup, ReadiesTheLibraryAgainAndAgain) {
  EXPECT_EQ(SockStartup(), 0);
  EXPECT_EQ(SockStartup(), 0);
}

TEST(SockCreate, MakesStreamSocketWithReuseAddressNotInherited) {
  const SOCKET s = SockCreate();
  ASSERT_NE(s, INVALID_SOCKET);
  const loopback::SocketFacts facts = loopback::Facts(s);
  EXPECT_TRUE(facts.bOpen);
  EXPECT_TRUE(facts.bStream);
  EXPECT_TRUE(facts.bReuseAddress);
  EXPECT_FALSE(facts.bInherited);
  SockClose(s, TRUE);
}

TEST(SockCreate, ReceiveOnTheSocketNeverWaits) {
  // The socket layer's own receive on a connection with nothing in it: a
  // socket that blocks would sit there until the peer's late bytes came.
  Listener listener;
  Connection c = loopback::Connect(listener);
  std::thread late = loopback::SendLater(c.peer, "late", 1500);
  char buffer[8];
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(platform::SocketReceive(c.ours, buffer, sizeof buffer), -1);
  EXPECT_EQ(platform::SocketLastError(), platform::kSocketWouldBlock);
  EXPECT_LT(MillisecondsSince(start), 1000);
  late.join();
  loopback::CloseConnection(c);
}

TEST(SockConnect, ReachesListenerAndFailsAtOnceWhereNothingListens) {
  Listener listener;
  const SOCKET good = SockCreate();
  EXPECT_EQ(SockConnect(good, listener.address(), 2000), 0);
  SockClose(good, TRUE);

  const SOCKET s = SockCreate();
  t_nSockError = 0;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(SockConnect(s, platform::MakeSocketAddressV4(loopback::Ipv4(127, 0, 0, 1),
                                                         testing_support::UnusedLoopbackPort()),
                        5000),
            -1);
  EXPECT_LT(MillisecondsSince(start), 2000);
  EXPECT_EQ(t_nSockError, loopback::kRefused);
  SockClose(s, TRUE);
}

TEST(SockConnect, FullBacklogFailsAfterTheLimit) {
  loopback::FullListener listener;
  const SOCKET s = SockCreate();
  t_nSockError = 0;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(SockConnect(s, listener.address(), 300), -1);
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 280);
  EXPECT_LT(elapsed, 3000);
  EXPECT_EQ(t_nSockError, SOCK_EWOULDBLOCK);  // a limit, not a timed-out connection
  SockClose(s, TRUE);
}

TEST(SockConnectHost, ResolvesThenConnects) {
  Listener listener;
  struct Case {
    const char* host;
    BOOL inThread;
  };
  for (const Case& c : {Case{"127.0.0.1", FALSE}, Case{"localhost", TRUE}, Case{"localhost", FALSE}}) {
    SCOPED_TRACE(c.host);
    const SOCKET s = SockCreate();
    EXPECT_EQ(SockConnectHost(s, c.host, listener.port(), 2000, c.inThread), 0);
    const loopback::PeerSocket peer = listener.Accept();
    EXPECT_NE(peer, loopback::kNoPeer);
    if (peer != loopback::kNoPeer) loopback::ClosePeer(peer);
    SockClose(s, TRUE);
  }

  const SOCKET s = SockCreate();
  t_nSockError = 0;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(SockConnectHost(s, "no-such-host.invalid", listener.port(), 5000, TRUE), -1);
  EXPECT_LT(MillisecondsSince(start), 2000);
  EXPECT_EQ(t_nSockError, SOCK_EHOSTNOTFOUND);
  EXPECT_EQ(listener.Accept(100), loopback::kNoPeer);
  SockClose(s, TRUE);
}

TEST(SockSend, NothingToSendReturnsZeroWithoutTouchingTheSocket) {
  for (std::int32_t length : {0, -1, -100}) {
    t_nSockError = 4711;
    EXPECT_EQ(SockSend(INVALID_SOCKET, "x", length, 100), 0) << length;
    EXPECT_EQ(t_nSockError, 4711) << length;
  }
}

TEST(SockSend, DeliversEverythingToAPeerThatReads) {
  Listener listener;
  Connection c = loopback::Connect(listener);
  // Far more than the socket buffers hold, so the send has to wait for room.
  const std::string data = Pattern(8 << 20);
  std::string got;
  std::thread reader([&] {
    got = loopback::ReadToEnd(c.peer, 20000);
  });
  EXPECT_EQ(SockSend(c.ours, data.data(), static_cast<std::int32_t>(data.size()), 5000),
            static_cast<std::int32_t>(data.size()));
  loopback::ShutdownSend(c.ours);
  reader.join();
  EXPECT_TRUE(got == data) << "received " << got.size() << " of " << data.size() << " bytes";
  loopback::CloseConnection(c);
}

TEST(SockSend, PeerThatStopsReadingGivesShortCountAfterTheLimit) {
  Listener listener;
  Connection c = loopback::Connect(listener);
  const std::string data = Pattern(32 << 20);
  t_nSockError = 0;
  const Clock::time_point start = Clock::now();
  const std::int32_t sent = SockSend(c.ours, data.data(), static_cast<std::int32_t>(data.size()), 200);
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, static_cast<std::int32_t>(data.size()));
  EXPECT_EQ(t_nSockError, SOCK_EWOULDBLOCK);  // a limit, not a timed-out connection
  EXPECT_GE(elapsed, 180);
  EXPECT_LT(elapsed, 3000);
  // What was counted as sent is what the peer gets, in order.
  loopback::ShutdownSend(c.ours);
  const std::string got = loopback::ReadToEnd(c.peer, 10000);
  EXPECT_EQ(got.size(), static_cast<std::size_t>(sent));
  EXPECT_TRUE(got == data.substr(0, got.size()));
  loopback::CloseConnection(c);
}

TEST(SockSend, PeerThatClosedGivesShortCountAndNoSignal) {
  loopback::ExpectBrokenPipeSignalUntouched();
  struct Case {
    const char* name;
    bool reset;
  };
  for (const Case& k : {Case{"closed", false}, Case{"reset", true}}) {
    SCOPED_TRACE(k.name);
    Listener listener;
    Connection c = loopback::Connect(listener);
    if (k.reset) {
      loopback::CloseWithReset(c.peer);
    } else {
      loopback::ClosePeer(c.peer);
    }
    c.peer = loopback::kNoPeer;
    const std::string data = Pattern(16 << 20);
    t_nSockError = 0;
    const Clock::time_point start = Clock::now();
    const std::int32_t sent = SockSend(c.ours, data.data(), static_cast<std::int32_t>(data.size()), 2000);
    EXPECT_LT(sent, static_cast<std::int32_t>(data.size()));
    EXPECT_LT(MillisecondsSince(start), 1900) << "failed by the limit, not by the peer";
    EXPECT_TRUE(loopback::IsBrokenConnection(t_nSockError)) << t_nSockError;
    // Once more on the dead connection: still a count, still no signal.
    EXPECT_EQ(SockSend(c.ours, "again", 5, 200), 0);
    EXPECT_TRUE(loopback::IsBrokenConnection(t_nSockError)) << t_nSockError;
    loopback::CloseConnection(c);
  }
}

TEST(SockRecv, PeerClosingDeliversDataFirstThenTheEnd) {
  struct Case {
    const char* name;
    std::string data;
    bool reset;
    std::int32_t end;        // what the receive after the data gives
    std::int32_t endError;   // and leaves in t_nSockError (0: untouched)
  };
  const Case cases[] = {
      {"data then close", "hello", false, 0, 0},
      {"close without data", "", false, 0, 0},
      {"reset without data", "", true, -1, loopback::kReset},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Listener listener;
    Connection c = loopback::Connect(listener);
    ASSERT_TRUE(loopback::SendAll(c.peer, k.data));
    if (k.reset) {
      loopback::CloseWithReset(c.peer);
    } else {
      loopback::ClosePeer(c.peer);
    }
    c.peer = loopback::kNoPeer;
    char buffer[64] = {};
    if (!k.data.empty()) {
      EXPECT_EQ(SockRecv(c.ours, buffer, sizeof buffer, 2000), static_cast<std::int32_t>(k.data.size()));
      EXPECT_EQ(std::string(buffer, k.data.size()), k.data);
    }
    t_nSockError = 0;
    const Clock::time_point start = Clock::now();
    const std::int32_t end = SockRecv(c.ours, buffer, sizeof buffer, 2000);
    EXPECT_LT(MillisecondsSince(start), 1900);
    if (!(k.reset && end == 0 && loopback::ResetMayReadAsEnd())) {
      EXPECT_EQ(end, k.end);
      EXPECT_EQ(t_nSockError, k.endError);
    }
    loopback::CloseConnection(c);
  }
}

TEST(SockRecv, TakesAtMostTheCapacityAndTimesOutWithinTheLimit) {
  Listener listener;
  Connection c = loopback::Connect(listener);
  ASSERT_TRUE(loopback::SendAll(c.peer, "abcdefgh"));
  char buffer[8] = {};
  EXPECT_EQ(SockRecv(c.ours, buffer, 3, 2000), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(SockRecv(c.ours, buffer, 8, 2000), 5);
  EXPECT_EQ(std::string(buffer, 5), "defgh");

  t_nSockError = 0;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(SockRecv(c.ours, buffer, sizeof buffer, 200), -1);
  const long long elapsed = MillisecondsSince(start);
  EXPECT_EQ(t_nSockError, SOCK_EWOULDBLOCK);  // a limit, not a timed-out connection
  EXPECT_GE(elapsed, 180);
  EXPECT_LT(elapsed, 3000);
  loopback::CloseConnection(c);
}

TEST(SockOperations, NoSocketFailsAtOnceEvenWithoutALimit) {
  char buffer[4];
  const Clock::time_point start = Clock::now();
  t_nSockError = 0;
  EXPECT_EQ(SockRecv(INVALID_SOCKET, buffer, sizeof buffer, -1), -1);
  EXPECT_EQ(t_nSockError, loopback::kNotASocket);
  t_nSockError = 0;
  EXPECT_EQ(SockSend(INVALID_SOCKET, "x", 1, -1), 0);
  EXPECT_EQ(t_nSockError, loopback::kNotASocket);
  t_nSockError = 0;
  EXPECT_EQ(SockConnect(INVALID_SOCKET, platform::MakeSocketAddressV4(loopback::Ipv4(127, 0, 0, 1), 9), -1), -1);
  EXPECT_EQ(t_nSockError, loopback::kNotASocket);
  EXPECT_LT(MillisecondsSince(start), 1000);
}

TEST(SockClose, ImmediateAndGracefulBothEndTheStream) {
  for (BOOL immediate : {TRUE, FALSE}) {
    SCOPED_TRACE(immediate ? "immediate" : "graceful");
    Listener listener;
    Connection c = loopback::Connect(listener);
    // A graceful close reads what the peer sends after seeing the end.
    std::string seen;
    std::thread peer([&] {
      seen = loopback::ReadToEnd(c.peer, 5000);
      loopback::SendAll(c.peer, "bye");
      loopback::ClosePeer(c.peer);
    });
    ASSERT_EQ(SockSend(c.ours, "last words", 10, 1000), 10);
    const Clock::time_point start = Clock::now();
    SockClose(c.ours, immediate);
    EXPECT_LT(MillisecondsSince(start), 3000);
    peer.join();
    EXPECT_EQ(seen, "last words");
    EXPECT_FALSE(loopback::Facts(c.ours).bOpen) << "socket still open";
    c = Connection{};
  }
}

TEST(SockClose, GracefulDrainEndsAtItsLimitAgainstAnEndlessSender) {
  Listener listener;
  Connection c = loopback::Connect(listener);
  std::atomic<bool> stop{false};
  std::thread peer([&] {
    const std::string chunk(4096, 'z');
    const Clock::time_point start = Clock::now();
    while (!stop && MillisecondsSince(start) < 10000 && loopback::SendAll(c.peer, chunk)) {
    }
    loopback::ClosePeer(c.peer);
  });
  const Clock::time_point start = Clock::now();
  SockCloseGraceful(c.ours, 300);
  const long long elapsed = MillisecondsSince(start);
  stop = true;
  peer.join();
  EXPECT_GE(elapsed, 280);
  EXPECT_LT(elapsed, 3000);
}
