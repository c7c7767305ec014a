#include <gtest/gtest.h>

#include "app/app.h"

TEST(AppName, BackslashIsAnOrdinaryByte) {
  EXPECT_EQ(AppNameFromModulePath("/g/back\\slash.exe"), "back\\slash");
  EXPECT_EQ(AppNameFromModulePath("C:\\g\\Launcher.exe"), "C:\\g\\Launcher");
}
