#include "platform/folders.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/files.h"
#include "platform/path.h"
#include "platform/text.h"

using namespace platform;

TEST(FoldersWindows, ModuleFileNameIsThisTestProgram) {
  const std::string path = GetModuleFileName();
  EXPECT_TRUE(IsAbsolutePath(path)) << path;
  const std::string lower = ToLower(path);
  ASSERT_GE(lower.size(), 17u);
  EXPECT_EQ(lower.substr(lower.size() - 17), "platform_test.exe") << path;
  EXPECT_TRUE(PathExists(path));
  EXPECT_FALSE(PathIsDirectory(path));
}

TEST(FoldersWindows, LocalAppDataIsTheUsersLocalFolder) {
  const std::string folder = GetLocalAppDataFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(IsAbsolutePath(folder)) << folder;
  EXPECT_FALSE(EndsWithSeparator(folder)) << folder;
  EXPECT_TRUE(PathIsDirectory(folder)) << folder;
  // The system's environment names the same folder (Wine's as Windows's).
  if (const char* env = std::getenv("LOCALAPPDATA")) {
    std::string expected = env;
    while (EndsWithSeparator(expected)) expected.pop_back();
    EXPECT_EQ(ToLower(folder), ToLower(expected));
  }
}

TEST(FoldersWindows, LastRunLogIsBesideTheDataDirectory) {
  EXPECT_EQ(GetLastRunLogPath("Game"), GetLocalAppDataFolder() + "\\Game-last-run.log");
}
