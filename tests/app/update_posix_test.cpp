#include "app/update.h"

#include <gtest/gtest.h>

TEST(UpdateMutexPrefix, BackslashIsAnOrdinaryByte) {
  EXPECT_EQ(UpdateMutexPrefix("/srv/a\\b/Download/Launcher/"), "a\\b_MUTEX");
}

TEST(UpdaterParameters, ModuleGameDirectoryAndName) {
  EXPECT_EQ(UpdaterParameters("/usr/games/Launcher", "/home/u/.local/share/Launcher/", "Launcher"),
            "/usr/games/Launcher*/home/u/.local/share/Launcher/Game/*Launcher");
}
