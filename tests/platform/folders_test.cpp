#include "platform/folders.h"

#include <gtest/gtest.h>

#include "support/support.h"

using namespace platform;
using testing_support::ScopedEnv;

TEST(Folders, ModuleFileNameIsThisTestProgram) {
  std::string path = GetModuleFileName();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_NE(path.find("platform_test"), std::string::npos) << path;
}

TEST(Folders, LocalAppDataFolder) {
  struct Case {
    const char* name;
    std::optional<std::string> xdg, home;
    std::string expected;
  };
  const Case cases[] = {
      {"xdg set", "/x/data", "/h", "/x/data"},
      {"xdg with trailing slash", "/x/data/", "/h", "/x/data"},
      {"xdg relative is ignored", "rel/data", "/h", "/h/.local/share"},
      {"xdg root is ignored", "/", "/h", "/h/.local/share"},
      {"home only", std::nullopt, "/h", "/h/.local/share"},
      {"home with trailing slash", std::nullopt, "/h/", "/h/.local/share"},
  };
  for (const Case& c : cases) {
    ScopedEnv env;
    if (c.xdg) env.Set("XDG_DATA_HOME", *c.xdg); else env.Unset("XDG_DATA_HOME");
    if (c.home) env.Set("HOME", *c.home); else env.Unset("HOME");
    EXPECT_EQ(GetLocalAppDataFolder(), c.expected) << c.name;
  }
}

TEST(Folders, WithoutHomeTheRootIsNeverUsed) {
  // With no usable variable the password database decides; whatever it
  // says, the answer is empty or a real home, never /.local/share.
  for (const char* home : {"", "/", "relative"}) {
    ScopedEnv env;
    env.Unset("XDG_DATA_HOME");
    env.Set("HOME", home);
    std::string folder = GetLocalAppDataFolder();
    EXPECT_NE(folder, "/.local/share") << "HOME=" << home;
    if (!folder.empty()) {
      EXPECT_EQ(folder.front(), '/');
    }
  }
}
