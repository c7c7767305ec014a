#include <gtest/gtest.h>

#include <clocale>

#include "app/app.h"
#include "support/support.h"

using testing_support::SystemPath;

TEST(AppName, FromModulePath) {
  std::setlocale(LC_ALL, "C.UTF-8");
  // Written with '/', handed over with the system's separator.
  struct Case { const char* path; const char* name; };
  const Case cases[] = {
      {"/games/My.Launcher.exe", "My.Launcher"},
      {"/games/Launcher", "Launcher"},
      {"/games/a.b.c", "a.b"},
      {"/g.d/Launcher", "Launcher"},           // a dot in a directory is not the extension
      {"Launcher.exe", "Launcher"},            // no directory at all
      {"/g/\xE5\x90\xAF\xE5\x8A\xA8.exe", "\xE5\x90\xAF\xE5\x8A\xA8"},
      {"/g/Caf\xC3\xA9.Launcher.exe", "Caf\xC3\xA9.Launcher"},
      // Refused: the data directory would be the folder itself or its parent.
      {"/g/.exe", ""},
      {"/g/..exe", ""},
      {"/g/...exe", ""},
      {"/g/", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(AppNameFromModulePath(SystemPath(c.path)), c.name) << c.path;
}
