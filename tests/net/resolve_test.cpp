#include "net/resolve.h"

#include <gtest/gtest.h>

#include "loopback.h"

using loopback::Ipv4;

TEST(ResolveHost, DottedTextNamesAndFailuresWithAndWithoutThread) {
  struct Case {
    const char* host;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"10.0.0.1", Ipv4(10, 0, 0, 1)},
      {"127.0.0.1", Ipv4(127, 0, 0, 1)},
      {"localhost", Ipv4(127, 0, 0, 1)},
      {"no-such-host.invalid", INADDR_NONE},
      {"NO-SUCH-HOST.INVALID.", INADDR_NONE},
      {"invalid", INADDR_NONE},
      {"", INADDR_NONE},
      // The all-ones address cannot be told apart from a failure.
      {"255.255.255.255", INADDR_NONE},
  };
  for (const Case& c : cases) {
    for (BOOL inThread : {FALSE, TRUE}) {
      EXPECT_EQ(ResolveHost(c.host, inThread), c.expected) << c.host << (inThread ? " in a thread" : "");
    }
  }
  EXPECT_EQ(ResolveHost(nullptr, TRUE), INADDR_NONE);
}

TEST(ResolveThreadProc, LeavesTheAnswerInTheRequest) {
  ResolveRequest found{"localhost", 0};
  ResolveThreadProc(&found);
  EXPECT_EQ(found.nAddress, Ipv4(127, 0, 0, 1));
  ResolveRequest missing{"nothing.invalid", 0};
  ResolveThreadProc(&missing);
  EXPECT_EQ(missing.nAddress, INADDR_NONE);
}
