#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "profile_cases.h"
#include "support/support.h"

using namespace platform;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// The Linux reader reads by the scanner's rules.
void CheckFile(const ProfileCase& c) {
  TempDir t;
  WriteFile(t / "update.ini", c.text);
  EXPECT_EQ(GetPrivateProfileString(c.section, c.key, kProfileDefault, c.nSize, t / "update.ini"), ExpectedValue(c))
      << c.what;
}

}  // namespace

TEST(Profile, NamesLinesAndBlanks) {
  for (const ProfileCase& c : ProfileNameCases()) CheckFile(c);
}

TEST(Profile, QuotesAndTheBuffer) {
  for (const ProfileCase& c : ProfileQuoteCases()) CheckFile(c);
}

TEST(Profile, DefaultForAFifo) {
  // Only a regular file is read: a FIFO nobody writes gives the default at once.
  TempDir t;
  ASSERT_EQ(mkfifo((t / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(GetPrivateProfileString("update", "versionNum", "0", 16, t / "fifo"), "0");
}
