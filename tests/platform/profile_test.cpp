#include "platform/profile.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "profile_cases.h"
#include "support/support.h"

using namespace platform;
using testing_support::TempDir;

namespace {

// Fed one byte at a time and in pieces of 7, so that no state is lost at
// a piece's end.
void CheckScanner(const ProfileCase& c) {
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}}) {
    ProfileScanner s(c.section, c.key, c.nSize);
    for (std::size_t pos = 0; pos < c.text.size() && !s.IsDone(); pos += piece)
      s.Feed(c.text.data() + pos, std::min(piece, c.text.size() - pos));
    std::string value;
    std::string got = s.Finish(value) ? value : kProfileDefault;
    EXPECT_EQ(got, ExpectedValue(c)) << c.what << ", pieces of " << piece;
  }
}

}  // namespace

TEST(ProfileScanner, NamesLinesAndBlanks) {
  for (const ProfileCase& c : ProfileNameCases()) CheckScanner(c);
}

TEST(ProfileScanner, QuotesAndTheBuffer) {
  for (const ProfileCase& c : ProfileQuoteCases()) CheckScanner(c);
}

TEST(ProfileScanner, FitsTheBuffer) {
  EXPECT_EQ(FitProfileBuffer("abcdef", 4), "abc");
  EXPECT_EQ(FitProfileBuffer(std::string("a\0b", 3), 4), "a");
  EXPECT_EQ(FitProfileBuffer("abc", 0), "");
  EXPECT_EQ(FitProfileBuffer("abc", 1), "");
  EXPECT_EQ(FitProfileBuffer("abc", 4), "abc");
}

TEST(Profile, DefaultWhenNoFileCanBeRead) {
  TempDir t;
  EXPECT_EQ(GetPrivateProfileString("update", "versionNum", "0", 16, t / "missing.ini"), "0");
  // A directory gives the default.
  EXPECT_EQ(GetPrivateProfileString("update", "versionNum", "0", 16, t.path()), "0");
  // The default is cut to the buffer as a value would be.
  EXPECT_EQ(GetPrivateProfileString("update", "GameUrl", "abcdef", 4, t / "missing.ini"), "abc");
  EXPECT_EQ(GetPrivateProfileString("update", "GameUrl", std::string("a\0b", 3), 4, t / "missing.ini"), "a");
  EXPECT_EQ(GetPrivateProfileString("update", "GameUrl", "abc", 0, t / "missing.ini"), "");
}
