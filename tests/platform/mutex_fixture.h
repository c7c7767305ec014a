// What the named mutex tests of every system share.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"
#include "support/support.h"

class NamedMutexTest : public ::testing::Test {
 protected:
  // Every test gets a runtime directory of its own (where the POSIX lock
  // files go), and names of its own: on Windows all programs of the
  // session share them, tests running at once included.
  NamedMutexTest() {
    m_env.Set("XDG_RUNTIME_DIR", m_runtime.path());
    m_strTag = std::to_string(std::random_device{}()) + "-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  }

  std::string Name(const std::string& base) const { return base + "." + m_strTag; }

  platform::MutexHandle Create(const std::string& name, bool expectExisted) {
    bool existed = !expectExisted;
    platform::MutexHandle h = platform::CreateNamedMutex(name, existed);
    EXPECT_NE(h, nullptr) << name;
    EXPECT_EQ(existed, expectExisted) << name;
    return h;
  }

  // The child of mutex_child.cpp; its first line says whether the name existed.
  std::unique_ptr<testing_support::BackgroundProcess> StartChild(const std::string& name, int waitMs,
                                                                 bool expectExisted) {
    auto child = std::make_unique<testing_support::BackgroundProcess>(
        std::vector<std::string>{TOLVANE_MUTEX_CHILD, name, std::to_string(waitMs)});
    EXPECT_EQ(child->ReadLine(std::chrono::seconds(10)), expectExisted ? "existed 1" : "existed 0");
    return child;
  }

  static void OnAnotherThread(const std::function<void()>& f) { std::thread(f).join(); }

  testing_support::TempDir m_runtime;
  testing_support::ScopedEnv m_env;
  std::string m_strTag;
};
