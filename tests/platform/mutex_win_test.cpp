// The Windows named mutex: names as CreateMutexA takes them, in the
// session's namespace, and ownership as the system gives it to threads.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "mutex_fixture.h"
#include "platform/mutex.h"

using namespace platform;

TEST_F(NamedMutexTest, NamesAsTheSystemTakesThem) {
  // Names differ by every byte, case included.
  const std::vector<std::string> names = {
      Name("a_b"), Name("A_B"), Name("a.b"), Name("a b"), Name("a/b"), Name("a%2Fb"),
      Name("\xE7\x82\xB9\xE5\x87\xBB"), Name("") + std::string(200, 'z'),
  };
  std::vector<MutexHandle> handles;
  for (const std::string& name : names) handles.push_back(Create(name, false));
  for (const std::string& name : names) CloseNamedMutex(Create(name, true));
  // The default namespace is the session's own.
  CloseNamedMutex(Create("Local\\" + names[0], true));
  for (MutexHandle h : handles) CloseNamedMutex(h);

  // The longest name the system takes (MAX_PATH characters), and what it refuses.
  const std::string longest = Name("") + std::string(260 - Name("").size(), 'x');
  CloseNamedMutex(Create(longest, false));
  for (const std::string& refused : {std::string(), Name("a") + std::string("\0b", 2), Name("a\\b"),
                                     "\\" + Name("x"), longest + "x"}) {
    bool existed = true;
    EXPECT_EQ(CreateNamedMutex(refused, existed), nullptr) << refused;
    EXPECT_FALSE(existed) << refused;
  }
}

TEST_F(NamedMutexTest, OwnershipIsTheThreads) {
  const std::string name = Name("thread");
  MutexHandle a = Create(name, false);
  MutexHandle b = Create(name, true);
  ASSERT_TRUE(WaitNamedMutex(a, -1));
  EXPECT_TRUE(WaitNamedMutex(b, 0));  // the same thread owns already
  ReleaseNamedMutex(a);
  OnAnotherThread([&] {
    bool existed = false;
    MutexHandle c = CreateNamedMutex(name, existed);
    EXPECT_FALSE(WaitNamedMutex(c, 0)) << "still owned through b";
    CloseNamedMutex(c);
  });
  ReleaseNamedMutex(b);
  OnAnotherThread([&] {
    bool existed = false;
    MutexHandle c = CreateNamedMutex(name, existed);
    EXPECT_TRUE(WaitNamedMutex(c, 0));
    CloseNamedMutex(c);
  });
  CloseNamedMutex(a);
  CloseNamedMutex(b);
}

TEST_F(NamedMutexTest, ThreadThatEndsOwningAbandonsItToTheNextWaiter) {
  const std::string name = Name("abandoned");
  MutexHandle h = Create(name, false);
  MutexHandle other = Create(name, true);
  OnAnotherThread([&] { ASSERT_TRUE(WaitNamedMutex(h, -1)); });
  EXPECT_TRUE(WaitNamedMutex(other, 1000));
  ReleaseNamedMutex(other);
  CloseNamedMutex(other);
  CloseNamedMutex(h);
}
