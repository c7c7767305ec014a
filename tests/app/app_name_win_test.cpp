#include <gtest/gtest.h>

#include "app/app.h"

TEST(AppName, FromWindowsModulePaths) {
  struct Case { const char* path; const char* name; };
  const Case cases[] = {
      {"C:\\Games\\My.Launcher.exe", "My.Launcher"},
      {"Z:\\tmp\\x\\t.exe", "t"},
      {"\\\\server\\share\\Launcher.exe", "Launcher"},
      {"C:/Games\\sub/My.Launcher.exe", "My.Launcher"},  // both separators
      {"C:\\Games\\", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(AppNameFromModulePath(c.path), c.name) << c.path;
}
