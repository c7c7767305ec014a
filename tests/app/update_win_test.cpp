#include "app/update.h"

#include <gtest/gtest.h>

TEST(UpdateMutexPrefix, DrivesAndShares) {
  struct Case {
    const char* dataDir;
    const char* prefix;
  } cases[] = {
      {"C:\\Users\\u\\AppData\\Local\\Launcher\\", "_MUTEX"},
      {"C:\\Users\\u\\Download\\Launcher\\", "u_MUTEX"},
      {"\\\\server\\share\\Download\\Launcher\\", "share_MUTEX"},
      // A mutex name must not hold a backslash: the drive is all there is.
      {"C:\\Download\\Launcher\\", "C:_MUTEX"},
  };
  for (const Case& c : cases) EXPECT_EQ(UpdateMutexPrefix(c.dataDir), c.prefix) << c.dataDir;
}

TEST(UpdaterParameters, ModuleGameDirectoryAndName) {
  EXPECT_EQ(UpdaterParameters("C:\\Games\\My.Launcher.exe", "C:\\Users\\u\\AppData\\Local\\My.Launcher\\",
                              "My.Launcher"),
            "C:\\Games\\My.Launcher.exe*C:\\Users\\u\\AppData\\Local\\My.Launcher\\Game\\*My.Launcher");
}
