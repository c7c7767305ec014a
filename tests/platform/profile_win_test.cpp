// The manifest through the system's GetPrivateProfileStringA.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

#include "platform/cwd.h"
#include "profile_cases.h"
#include "support/support.h"

using namespace platform;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(ProfileWindows, TheSystemReaderKeepsTheRules) {
  // Where Wine's reader is known to read otherwise than the Linux one
  // (whether Windows does is not known here): a header without ']' is no
  // header, a lone CR ends a line, and the buffer is cut before the
  // quotes go.
  const std::set<std::string_view> otherwise = {"header without ']'", "a lone CR ends no line",
                                                "a closing quote just past the buffer"};
  for (const auto* cases : {&ProfileNameCases(), &ProfileQuoteCases()}) {
    for (const ProfileCase& c : *cases) {
      if (otherwise.count(c.what)) continue;
      TempDir t;
      WriteFile(t / "update.ini", c.text);
      EXPECT_EQ(GetPrivateProfileString(c.section, c.key, kProfileDefault, c.nSize, t / "update.ini"),
                ExpectedValue(c))
          << c.what;
    }
  }
}

TEST(ProfileWindows, ARelativePathCountsFromTheCurrentDirectory) {
  // The system would look for it in the Windows directory.
  TempDir t;
  WriteFile(t / "update.ini", "[update]\nversionNum=2\n");
  WriteFile(t / "sub/update.ini", "[update]\nversionNum=3\n");
  const SavedCurrentDir saved;
  ASSERT_TRUE(SetCurrentDir(t.path()));
  EXPECT_EQ(GetPrivateProfileString("update", "versionNum", "0", 16, "update.ini"), "2");
  EXPECT_EQ(GetPrivateProfileString("update", "versionNum", "0", 16, "sub\\update.ini"), "3");
  EXPECT_EQ(GetPrivateProfileString("update", "versionNum", "0", 16, "sub/update.ini"), "3");
  EXPECT_EQ(GetPrivateProfileString("update", "versionNum", "0", 16, "win.ini"), "0");
  EXPECT_EQ(GetPrivateProfileString("update", "versionNum", "0", 16, ""), "0");
  saved.Restore();
}
