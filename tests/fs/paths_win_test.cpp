// The data directory as Windows has it: %LOCALAPPDATA%\<name>\.
#include "fs/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/path.h"

TEST(GetDataDirectory, LocalApplicationDataAndTheName) {
  // The shell's folder and the variable that Windows sets from it at logon.
  const char* local = std::getenv("LOCALAPPDATA");
  ASSERT_NE(local, nullptr);
  std::string folder = local;
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  for (const char* name : {"Launcher", "My.Launcher"}) {
    const std::string dir = GetDataDirectory(name);
    EXPECT_EQ(dir, folder + "\\" + name + "\\");
    EXPECT_TRUE(platform::IsAbsolutePath(dir)) << dir;
    EXPECT_EQ(dir.find('/'), std::string::npos) << dir;
  }
}
