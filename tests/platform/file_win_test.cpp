// Files by handle and the current directory, as the original platform
// keeps them: attributes for modes, three times, handles not inherited.
#include "platform/file.h"

#include <gtest/gtest.h>

#include "platform/cwd.h"
#include "platform/files.h"
#include "support/support.h"
#include "win_fixtures.h"

using namespace platform;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using win_fixtures::Backslashed;

namespace {

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

std::uint64_t Ticks(const FILETIME& ft) {
  return static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

}  // namespace

TEST(FileWindows, ModeGivesTheReadOnlyAttributeAndAnEmptiedFileKeepsItsOwn) {
  TempDir t;
  FileHandle h = CreateFileForWriting(t / "ro", 0444);
  ASSERT_NE(h, kNoFile);
  EXPECT_TRUE(WriteFileAll(h, "x", 1));  // the new file's own handle may write
  CloseFile(h);
  EXPECT_TRUE(Attributes(t / "ro") & FILE_ATTRIBUTE_READONLY);
  h = CreateFileForWriting(t / "rw", 0600);
  ASSERT_NE(h, kNoFile);
  CloseFile(h);
  EXPECT_FALSE(Attributes(t / "rw") & FILE_ATTRIBUTE_READONLY);

  WriteFile(t / "hidden", "long contents");
  ASSERT_TRUE(SetFileAttributesA((t / "hidden").c_str(), FILE_ATTRIBUTE_HIDDEN));
  h = CreateFileForWriting(t / "hidden", 0444);
  ASSERT_NE(h, kNoFile);
  CloseFile(h);
  EXPECT_EQ(ReadFile(t / "hidden"), "");
  EXPECT_EQ(Attributes(t / "hidden") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
}

TEST(FileWindows, CreationAccessAndModificationTimes) {
  TempDir t;
  const FileHandle h = CreateFileForWriting(t / "f", 0644);
  ASSERT_NE(h, kNoFile);
  FileTime creation = 0, access = 0, modification = 0;
  ASSERT_TRUE(UnixTimeToFileTime(1000000000, creation));
  ASSERT_TRUE(UnixTimeToFileTime(1100000000, access));
  ASSERT_TRUE(UnixTimeToFileTime(1234567890, modification));
  EXPECT_TRUE(SetFileTimes(h, creation, access + 5000000, modification));
  EXPECT_FALSE(SetFileTimes(h, -1, access, modification));  // before 1601
  EXPECT_FALSE(SetFileTimes(h, creation, access, 0));      // "no change" to the system
  CloseFile(h);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExA((t / "f").c_str(), GetFileExInfoStandard, &data));
  // Wine keeps no creation time of its own: the Unix file systems have
  // none to set.
  if (!win_fixtures::RunsUnderWine()) {
    EXPECT_EQ(Ticks(data.ftCreationTime), static_cast<std::uint64_t>(creation));
  }
  EXPECT_EQ(Ticks(data.ftLastAccessTime), static_cast<std::uint64_t>(access + 5000000));
  EXPECT_EQ(Ticks(data.ftLastWriteTime), static_cast<std::uint64_t>(modification));
}

TEST(FileWindows, HandlesAreNotInherited) {
  TempDir t;
  WriteFile(t / "f", "x");
  for (FileHandle h : {OpenFileForReading(t / "f"), CreateFileForWriting(t / "g", 0644)}) {
    ASSERT_NE(h, kNoFile);
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags));
    EXPECT_FALSE(flags & HANDLE_FLAG_INHERIT);
    CloseFile(h);
  }
}

TEST(FileWindows, PipesAndDevicesAreNoDiskFiles) {
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
  EXPECT_FALSE(IsDiskFile(reinterpret_cast<FileHandle>(readEnd)));
  CloseHandle(readEnd);
  CloseHandle(writeEnd);
  const FileHandle nul = CreateFileForWriting("NUL", 0644);
  ASSERT_NE(nul, kNoFile);
  EXPECT_FALSE(IsDiskFile(nul));
  CloseFile(nul);
  EXPECT_FALSE(IsDiskFile(kNoFile));
}

TEST(FileWindows, ALinkAsTheLastComponentIsRefused) {
  TempDir t;
  WriteFile(t / "target", "keep");
  if (!win_fixtures::MakeFileLink(Backslashed(t / "target"), t / "link")) GTEST_SKIP() << "this system makes no links";
  EXPECT_EQ(CreateFileForWriting(t / "link", 0644), kNoFile);
  EXPECT_EQ(ReadFile(t / "target"), "keep");
}

TEST(CwdWindows, GetSetAndBackToASavedDirectory) {
  const std::string before = GetCurrentDir();
  ASSERT_FALSE(before.empty());
  TempDir t;
  ASSERT_TRUE(CreateOneDirectory(t / "saved"));
  ASSERT_TRUE(CreateOneDirectory(t / "elsewhere"));
  ASSERT_TRUE(SetCurrentDir(t / "saved"));
  EXPECT_EQ(GetCurrentDir(), Backslashed(t / "saved"));
  {
    const SavedCurrentDir saved;
    ASSERT_TRUE(saved.IsValid());
    ASSERT_TRUE(SetCurrentDir(t / "elsewhere"));
    EXPECT_EQ(GetCurrentDir(), Backslashed(t / "elsewhere"));
    // Held open, it can be neither renamed nor replaced on the way back.
    EXPECT_FALSE(MoveFileA((t / "saved").c_str(), (t / "moved").c_str()));
    EXPECT_TRUE(saved.Restore());
    EXPECT_EQ(GetCurrentDir(), Backslashed(t / "saved"));
  }
  EXPECT_FALSE(SetCurrentDir(t / "missing"));
  EXPECT_FALSE(SetCurrentDir(""));
  ASSERT_TRUE(SetCurrentDir(before));
}
