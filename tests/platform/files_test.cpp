#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/support.h"

using namespace platform;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(Files, EnumerateMatchesWithoutCaseAndSorts) {
  TempDir t;
  WriteFile(t / "b.exe", "");
  WriteFile(t / "SETUP.EXE", "");
  WriteFile(t / "readme.txt", "");
  WriteFile(t / "sub/inner.exe", "");
  symlink("/", (t / "link").c_str());

  std::vector<DirEntry> entries;
  ASSERT_TRUE(EnumerateDirectory(t.path(), "*.exe", entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].strName, "SETUP.EXE");
  EXPECT_EQ(entries[1].strName, "b.exe");

  ASSERT_TRUE(EnumerateDirectory(t.path() + "/", "*.*", entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.strName + (e.bDirectory ? "/" : ""));
  // A link to a directory is not a directory here.
  EXPECT_EQ(names, (std::vector<std::string>{"SETUP.EXE", "b.exe", "link", "readme.txt", "sub/"}));

  EXPECT_FALSE(EnumerateDirectory(t / "missing", "*.*", entries));
  EXPECT_TRUE(entries.empty());
}

TEST(Files, ExistsAndIsDirectory) {
  TempDir t;
  WriteFile(t / "f", "x");
  symlink("missing", (t / "dangling").c_str());
  symlink(t.path().c_str(), (t / "dirlink").c_str());
  EXPECT_TRUE(PathExists(t / "f"));
  EXPECT_FALSE(PathIsDirectory(t / "f"));
  EXPECT_TRUE(PathExists(t.path()));
  EXPECT_TRUE(PathIsDirectory(t.path()));
  EXPECT_FALSE(PathExists(t / "dangling"));
  EXPECT_FALSE(PathIsDirectory(t / "dangling"));
  EXPECT_TRUE(PathIsDirectory(t / "dirlink"));
  EXPECT_FALSE(PathExists(t / "missing"));
}

TEST(Files, ResetAttributesGivesWriteBackButNotThroughLinks) {
  TempDir t;
  WriteFile(t / "ro", "x", 0444);
  WriteFile(t / "target", "x", 0444);
  symlink((t / "target").c_str(), (t / "link").c_str());
  struct stat st;
  EXPECT_TRUE(ResetAttributes(t / "ro"));
  ASSERT_EQ(stat((t / "ro").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_FALSE(ResetAttributes(t / "link"));
  ASSERT_EQ(stat((t / "target").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
}
