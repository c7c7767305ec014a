// The original platform's rules for files by path: attributes, case and
// links.
#include "platform/files.h"

#include <gtest/gtest.h>

#include "support/support.h"
#include "win_fixtures.h"

using namespace platform;
using testing_support::Exists;
using testing_support::ListTree;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using win_fixtures::Literal;

namespace {

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

void SetAttributes(const std::string& path, DWORD attributes) {
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes)) << path;
}

// The names in dir as the system spells them.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<DirEntry> entries;
  EnumerateDirectory(dir, "*", entries);
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.strName);
  return names;
}

}  // namespace

TEST(FilesWindows, TreeDeleteClearsTheAttributesThatKeepFiles) {
  TempDir t;
  WriteFile(t / "data/a.txt", "a");
  WriteFile(t / "data/Game/b.exe", "b");
  WriteFile(t / "data/Game/res/c.dat", "c");
  SetAttributes(t / "data/a.txt", FILE_ATTRIBUTE_READONLY);
  SetAttributes(t / "data/Game/b.exe", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetAttributes(t / "data/Game/res/c.dat", FILE_ATTRIBUTE_HIDDEN);
  // Entries that a plain path would take for a device or shorten ("a." is
  // "a"): the walk goes by the names as they stand.
  for (const char* name : {"nul", "trail."}) {
    const HANDLE h = CreateFileA(Literal(t / "data/Game/" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    CloseHandle(h);
  }
  WriteFile(t / "beside.txt", "stays");
  SetAttributes(t / "beside.txt", FILE_ATTRIBUTE_READONLY);
  DeleteDirectoryTreeContents(t / "data");
  EXPECT_EQ(ListTree(t.path()), (std::vector<std::string>{"beside.txt", "data/"}));
  EXPECT_TRUE(Attributes(t / "beside.txt") & FILE_ATTRIBUTE_READONLY);
}

TEST(FilesWindows, TreeDeleteRemovesLinksAndNothingTheyLeadTo) {
  TempDir t;
  WriteFile(t / "outside/keep.txt", "keep");
  SetAttributes(t / "outside/keep.txt", FILE_ATTRIBUTE_READONLY);
  WriteFile(t / "data/f.txt", "f");
  const bool junction = win_fixtures::MakeJunction(win_fixtures::Backslashed(t / "outside"), t / "data/junction");
  const bool fileLink = win_fixtures::MakeFileLink(win_fixtures::Backslashed(t / "outside/keep.txt"), t / "data/link.txt");
  if (!junction && !fileLink) GTEST_SKIP() << "this system makes no links";
  DeleteDirectoryTreeContents(t / "data");
  EXPECT_TRUE(ListTree(t / "data").empty());
  EXPECT_EQ(ReadFile(t / "outside/keep.txt"), "keep");
  EXPECT_TRUE(Attributes(t / "outside/keep.txt") & FILE_ATTRIBUTE_READONLY);
}

TEST(FilesWindows, LinksAreNoDirectoriesButLeadToThem) {
  TempDir t;
  WriteFile(t / "target/x", "");
  if (!win_fixtures::MakeJunction(win_fixtures::Backslashed(t / "target"), t / "junction")) {
    GTEST_SKIP() << "this system makes no junctions";
  }
  std::vector<DirEntry> entries;
  ASSERT_TRUE(EnumerateDirectory(t.path(), "*.*", entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].strName, "junction");
  EXPECT_FALSE(entries[0].bDirectory);
  EXPECT_TRUE(entries[1].bDirectory);
  EXPECT_TRUE(PathIsLink(t / "junction"));
  EXPECT_TRUE(PathIsDirectory(t / "junction"));
  EXPECT_FALSE(ResetAttributes(t / "junction"));
}

TEST(FilesWindows, RenameNeverReplacesAnotherSpellingOrAReadOnlyFile) {
  TempDir t;
  WriteFile(t / "Game/setup.exe", "setup");
  WriteFile(t / "Game/Launcher.exe", "old");
  SetAttributes(t / "Game/Launcher.exe", FILE_ATTRIBUTE_READONLY);
  // MoveFileA itself would change the spelling of the name.
  EXPECT_FALSE(RenameNoReplace(t / "Game/setup.exe", t / "Game/SETUP.EXE"));
  EXPECT_FALSE(RenameNoReplace(t / "Game/setup.exe", t / "Game/launcher.EXE"));
  EXPECT_EQ(Names(t / "Game"), (std::vector<std::string>{"Launcher.exe", "setup.exe"}));
  EXPECT_EQ(ReadFile(t / "Game/Launcher.exe"), "old");
  // A read-only file moves like any other.
  SetAttributes(t / "Game/setup.exe", FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(RenameNoReplace(t / "Game/setup.exe", t / "Game/Other.exe"));
  EXPECT_EQ(ReadFile(t / "Game/Other.exe"), "setup");
}

TEST(FilesWindows, ResetAttributesClearsReadOnlyOnly) {
  TempDir t;
  WriteFile(t / "ro", "x");
  WriteFile(t / "rh", "x");
  WriteFile(t / "plain", "x");
  SetAttributes(t / "ro", FILE_ATTRIBUTE_READONLY);
  SetAttributes(t / "rh", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(ResetAttributes(t / "ro"));
  EXPECT_FALSE(Attributes(t / "ro") & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(ResetAttributes(t / "rh"));
  EXPECT_EQ(Attributes(t / "rh") & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(ResetAttributes(t / "plain"));
  EXPECT_FALSE(ResetAttributes(t / "missing"));
}

TEST(FilesWindows, ModificationTimeOfAReadOnlyFileToo) {
  TempDir t;
  WriteFile(t / "f", "x");
  SetAttributes(t / "f", FILE_ATTRIBUTE_READONLY);
  const struct {
    std::int64_t t;
    std::uint64_t ticks;  // 100 ns since 1601
  } cases[] = {{1306922400, 129513960000000000u}, {0, 116444736000000000u}, {-86400, 116443872000000000u}};
  for (const auto& c : cases) {
    ASSERT_TRUE(SetModificationTime(t / "f", c.t)) << c.t;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExA((t / "f").c_str(), GetFileExInfoStandard, &data));
    const std::uint64_t ticks =
        static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(ticks, c.ticks) << c.t;
  }
  // The first instant of 1601 would tell the system to change nothing;
  // before it is no time of the system's.
  EXPECT_FALSE(SetModificationTime(t / "f", -11644473600));
  EXPECT_FALSE(SetModificationTime(t / "f", -11644473601));
  EXPECT_FALSE(SetModificationTime(t / "missing", 0));
}
