#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file.h"
#include "support/support.h"

using namespace platform;
using testing_support::Exists;
using testing_support::ListTree;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// A file made read-only the platform's way: a mode without write
// permission, the read-only attribute on Windows.
void WriteReadOnlyFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  const FileHandle h = CreateFileForWriting(path, 0444);
  ASSERT_NE(h, kNoFile) << path;
  EXPECT_TRUE(WriteFileAll(h, bytes.data(), bytes.size()));
  CloseFile(h);
}

}  // namespace

TEST(Files, EnumerateMatchesWithoutCaseAndSorts) {
  TempDir t;
  WriteFile(t / "b.exe", "");
  WriteFile(t / "SETUP.EXE", "");
  WriteFile(t / "readme.txt", "");
  WriteFile(t / "noext", "");
  WriteFile(t / "sub/inner.exe", "");

  std::vector<DirEntry> entries;
  ASSERT_TRUE(EnumerateDirectory(t.path(), "*.exe", entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].strName, "SETUP.EXE");
  EXPECT_EQ(entries[1].strName, "b.exe");

  // "*.*" matches names without a dot too; the directory may end with a separator.
  ASSERT_TRUE(EnumerateDirectory(t.path() + "/", "*.*", entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.strName + (e.bDirectory ? "/" : ""));
  EXPECT_EQ(names, (std::vector<std::string>{"SETUP.EXE", "b.exe", "noext", "readme.txt", "sub/"}));

  // Nothing that matches is an empty list; a directory that is not there is a failure.
  EXPECT_TRUE(EnumerateDirectory(t / "sub", "*.zip", entries));
  EXPECT_TRUE(entries.empty());
  entries.push_back(DirEntry{"stale", false});
  EXPECT_FALSE(EnumerateDirectory(t / "missing", "*.*", entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(EnumerateDirectory("", "*.*", entries));
}

TEST(Files, ExistsAndIsDirectory) {
  TempDir t;
  WriteFile(t / "f", "x");
  EXPECT_TRUE(PathExists(t / "f"));
  EXPECT_FALSE(PathIsDirectory(t / "f"));
  EXPECT_FALSE(PathIsLink(t / "f"));
  EXPECT_TRUE(PathExists(t.path()));
  EXPECT_TRUE(PathIsDirectory(t.path()));
  EXPECT_FALSE(PathExists(t / "missing"));
  EXPECT_FALSE(PathIsDirectory(t / "missing"));
  EXPECT_FALSE(PathExists(t / "f/below"));
  EXPECT_FALSE(PathExists(""));
}

TEST(Files, RenameNeverReplacesAnything) {
  TempDir t;
  WriteFile(t / "Setup.exe", "new");
  WriteFile(t / "Launcher.exe", "old");
  WriteFile(t / "Other.exe", "other");
  ASSERT_TRUE(CreateOneDirectory(t / "Folder.exe"));
  EXPECT_FALSE(RenameNoReplace(t / "Setup.exe", t / "Launcher.exe"));
  EXPECT_EQ(ReadFile(t / "Launcher.exe"), "old");
  EXPECT_EQ(ReadFile(t / "Setup.exe"), "new");
  EXPECT_FALSE(RenameNoReplace(t / "Setup.exe", t / "Setup.exe"));
  EXPECT_EQ(ReadFile(t / "Setup.exe"), "new");
  EXPECT_FALSE(RenameNoReplace(t / "Setup.exe", t / "Folder.exe"));
  EXPECT_TRUE(PathIsDirectory(t / "Folder.exe"));
  EXPECT_FALSE(RenameNoReplace(t / "Missing.exe", t / "New.exe"));
  EXPECT_FALSE(Exists(t / "New.exe"));
  EXPECT_TRUE(RenameNoReplace(t / "Other.exe", t / "Game.exe"));
  EXPECT_FALSE(Exists(t / "Other.exe"));
  EXPECT_EQ(ReadFile(t / "Game.exe"), "other");
}

TEST(Files, ReplaceFilePutsTheFileInPlace) {
  TempDir t;
  WriteFile(t / "a.down1", "new");
  WriteFile(t / "a", "old");
  EXPECT_TRUE(ReplaceFile(t / "a.down1", t / "a"));
  EXPECT_EQ(ReadFile(t / "a"), "new");
  EXPECT_FALSE(Exists(t / "a.down1"));
  WriteFile(t / "b.down1", "b");
  EXPECT_TRUE(ReplaceFile(t / "b.down1", t / "b"));
  EXPECT_EQ(ReadFile(t / "b"), "b");
  WriteFile(t / "c.down1", "c");
  ASSERT_TRUE(CreateOneDirectory(t / "c"));
  EXPECT_FALSE(ReplaceFile(t / "c.down1", t / "c"));
  EXPECT_EQ(ReadFile(t / "c.down1"), "c");
}

TEST(Files, DirectoriesOneAtATime) {
  TempDir t;
  EXPECT_TRUE(CreateOneDirectory(t / "a"));
  EXPECT_FALSE(CreateOneDirectory(t / "a"));       // there already
  EXPECT_FALSE(CreateOneDirectory(t / "x/y"));     // no parent
  EXPECT_FALSE(CreateOneDirectory(""));
  WriteFile(t / "a/f", "");
  EXPECT_FALSE(RemoveEmptyDirectory(t / "a"));     // not empty
  EXPECT_TRUE(DeleteOneFile(t / "a/f"));
  EXPECT_FALSE(DeleteOneFile(t / "a/f"));
  EXPECT_TRUE(RemoveEmptyDirectory(t / "a"));
  EXPECT_FALSE(Exists(t / "a"));
}

TEST(Files, TreeDeleteEmptiesEverythingBelowButTheDirectory) {
  // Read-only files go too (the zip layer makes most of them so), with or
  // without a separator after the directory.
  for (const char* tail : {"", "/"}) {
    TempDir t;
    WriteFile(t / "data/update.ini", "[update]\n");
    WriteReadOnlyFile(t / "data/Game/Game.exe", "x");
    WriteReadOnlyFile(t / "data/Game/res/a/b/c.dat", "x");
    WriteFile(t / "data/downZip/Game", "zip");
    ASSERT_TRUE(CreateOneDirectory(t / "data/empty"));
    WriteFile(t / "beside", "stays");
    DeleteDirectoryTreeContents(t / "data" + tail);
    EXPECT_EQ(ListTree(t.path()), (std::vector<std::string>{"beside", "data/"})) << "tail '" << tail << "'";
  }
  TempDir t;
  DeleteDirectoryTreeContents(t / "missing");
  DeleteDirectoryTreeContents("");
  EXPECT_TRUE(ListTree(t.path()).empty());
}
