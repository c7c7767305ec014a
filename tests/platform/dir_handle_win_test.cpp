// Entries made inside directories held open: names from an archive, which
// Windows must store as they stand, and whatever is in their way.
#include "platform/dir_handle.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/support.h"
#include "win_fixtures.h"

using namespace platform;
using testing_support::ListTree;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// One directory held open for a test.
class HeldDirectory {
 public:
  explicit HeldDirectory(const std::string& path) : m_dir(OpenDirectory(path)) {}
  ~HeldDirectory() { CloseDirectory(m_dir); }
  HeldDirectory(const HeldDirectory&) = delete;
  HeldDirectory& operator=(const HeldDirectory&) = delete;
  DirHandle get() const { return m_dir; }

 private:
  DirHandle m_dir;
};

bool WriteAt(DirHandle dir, const std::string& name, unsigned mode, const std::string& bytes) {
  const FileHandle h = CreateFileReplacingAt(dir, name, mode);
  if (h == kNoFile) return false;
  const bool ok = WriteFileAll(h, bytes.data(), bytes.size());
  CloseFile(h);
  return ok;
}

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

}  // namespace

TEST(DirHandleWindows, NamesWindowsCannotStoreAreRefused) {
  TempDir t;
  HeldDirectory root(t.path());
  ASSERT_NE(root.get(), kNoDir);
  for (const char* name : {"nul", "NUL.txt", "con", "Aux.log", "com1", "LPT9.dat", "conout$", "nul .txt", "a.", "a ",
                           "x:y", "a*b", "q?", "a<b", "p|q", "a\"b", "a\tb", "sub\\x", "sub/x", "", ".", ".."}) {
    EXPECT_EQ(CreateFileReplacingAt(root.get(), name, 0644), kNoFile) << '"' << name << '"';
    DirHandle sub = kNoDir;
    EXPECT_NE(MakeAndOpenSubdirectory(root.get(), name, sub), SubdirResult::kOpened) << '"' << name << '"';
    EXPECT_EQ(sub, kNoDir);
  }
  EXPECT_TRUE(ListTree(t.path()).empty());
  // Near misses are plain names.
  for (const char* name : {"console.txt", "nul_", "com10", "lpt", ".hidden", "a.b.c"}) {
    EXPECT_TRUE(WriteAt(root.get(), name, 0644, "x")) << name;
  }
  EXPECT_EQ(ListTree(t.path()).size(), 6u);
}

TEST(DirHandleWindows, ReadOnlyFromTheModeAndReplacedLater) {
  TempDir t;
  HeldDirectory root(t.path());
  DirHandle game = kNoDir;
  ASSERT_EQ(MakeAndOpenSubdirectory(root.get(), "Game", game), SubdirResult::kOpened);
  EXPECT_TRUE(WriteAt(game, "a.exe", 0444, "one"));
  EXPECT_TRUE(Attributes(t / "Game/a.exe") & FILE_ATTRIBUTE_READONLY);
  // An earlier copy goes, read-only and hidden as it is.
  SetFileAttributesA((t / "Game/a.exe").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(WriteAt(game, "a.exe", 0644, "two"));
  EXPECT_EQ(ReadFile(t / "Game/a.exe"), "two");
  EXPECT_FALSE(Attributes(t / "Game/a.exe") & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  // A directory in the way stays, and so does what it holds.
  WriteFile(t / "Game/res/inner.txt", "inner");
  EXPECT_FALSE(WriteAt(game, "res", 0644, "x"));
  EXPECT_EQ(ReadFile(t / "Game/res/inner.txt"), "inner");
  // A file where a directory should be is no directory.
  DirHandle sub = kNoDir;
  EXPECT_EQ(MakeAndOpenSubdirectory(game, "a.exe", sub), SubdirResult::kFailed);
  // Another spelling is the same directory.
  DirHandle again = kNoDir;
  ASSERT_EQ(MakeAndOpenSubdirectory(root.get(), "GAME", again), SubdirResult::kOpened);
  EXPECT_TRUE(WriteAt(again, "b.txt", 0644, "b"));
  EXPECT_EQ(ReadFile(t / "Game/b.txt"), "b");
  CloseDirectory(again);
  CloseDirectory(game);
  EXPECT_EQ(OpenDirectory(t / "missing"), kNoDir);
  EXPECT_EQ(OpenDirectory(t / "Game/a.exe"), kNoDir);
  EXPECT_EQ(OpenDirectory(""), kNoDir);
}

TEST(DirHandleWindows, AHeldDirectoryCannotBeMovedAway) {
  TempDir t;
  HeldDirectory root(t.path());
  DirHandle game = kNoDir;
  ASSERT_EQ(MakeAndOpenSubdirectory(root.get(), "Game", game), SubdirResult::kOpened);
  // Renamed, a link could take its name and the next file would land elsewhere.
  EXPECT_FALSE(MoveFileA((t / "Game").c_str(), (t / "Moved").c_str()));
  CloseDirectory(game);
  EXPECT_TRUE(MoveFileA((t / "Game").c_str(), (t / "Moved").c_str()));
}

TEST(DirHandleWindows, ALinkInTheWayIsNeverGoneThrough) {
  TempDir t;
  WriteFile(t / "outside/keep.txt", "keep");
  ASSERT_TRUE(CreateOneDirectory(t / "root"));
  if (!win_fixtures::MakeJunction(win_fixtures::Backslashed(t / "outside"), t / "root/Game")) {
    GTEST_SKIP() << "this system makes no junctions";
  }
  HeldDirectory root(t / "root");
  DirHandle game = kNoDir;
  EXPECT_EQ(MakeAndOpenSubdirectory(root.get(), "Game", game), SubdirResult::kLink);
  EXPECT_EQ(game, kNoDir);
  // As a file's name the link itself goes.
  EXPECT_TRUE(WriteAt(root.get(), "Game", 0644, "file"));
  EXPECT_EQ(ReadFile(t / "root/Game"), "file");
  EXPECT_EQ(ListTree(t / "outside"), (std::vector<std::string>{"keep.txt"}));
}

TEST(DirHandleWindows, AnotherSpellingBeyondAsciiIsTheSameDirectory) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  TempDir t;
  HeldDirectory root(t.path());
  DirHandle lower = kNoDir, upper = kNoDir;
  ASSERT_EQ(MakeAndOpenSubdirectory(root.get(), "\xE9t\xE9", lower), SubdirResult::kOpened);  // "été"
  ASSERT_EQ(MakeAndOpenSubdirectory(root.get(), "\xC9T\xC9", upper), SubdirResult::kOpened);  // "ÉTÉ"
  EXPECT_TRUE(WriteAt(upper, "f.txt", 0644, "x"));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(EnumerateDirectory(t.path(), "*", entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].strName, "\xE9t\xE9");
  EXPECT_TRUE(PathExists(t / "\xE9t\xE9/f.txt"));
  CloseDirectory(upper);
  CloseDirectory(lower);
}
