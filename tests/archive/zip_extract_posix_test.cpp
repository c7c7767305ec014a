// Modes, links and a removed current directory: rules of the Linux build.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "archive/zip_extract.h"
#include "modes_posix.h"
#include "platform/cwd.h"
#include "support/support.h"
#include "zip_fixtures.h"

using namespace zip_fixtures;
using testing_support::Exists;
using testing_support::IsDir;
using testing_support::ListTree;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(ZipExtract, ModesFromUnixAndWindowsEntriesUnderTheUmask) {
  TempDir t;
  const std::string src = t / "src";
  MakeSourceTree(src);
  RunTool({"zip", "-qr", t / "unix.zip", "."}, src);
  ASSERT_EQ(ExtractZipToDirectory(t / "unix.zip", t / "u"), TRUE);
  const mode_t mask = Umask();
  EXPECT_EQ(Mode(t / "u/bin/run.sh"), 0755u & ~mask);
  EXPECT_EQ(Mode(t / "u/readme.txt"), 0644u & ~mask);

  Archive a;
  a.entries = {{.name = "app/", .external = 0x10, .madeBy = 0x0014},
               {.name = "app/game.exe", .data = "MZ", .external = 0x20, .madeBy = 0x0014}};
  WriteFile(t / "win.zip", Build(a).bytes);
  ASSERT_EQ(ExtractZipToDirectory(t / "win.zip", t / "w"), TRUE);
  EXPECT_EQ(Mode(t / "w/app/game.exe"), 0444u & ~mask);
  EXPECT_EQ(Mode(t / "w/app") & 0200, 0200u);
}

TEST(ZipExtract, LinkedDirectoryInTheDestinationIsNotFollowed) {
  for (const char* name : {"sub/x.txt", "sub/deeper/x.txt", "sub\\x.txt", "sub/newdir/"}) {
    SCOPED_TRACE(name);
    TempDir t;
    WriteFile(t / "outside/x.txt", "secret", 0444);
    std::filesystem::create_directories(t / "dest");
    ASSERT_EQ(symlink((t / "outside").c_str(), (t / "dest/sub").c_str()), 0);
    Archive a;
    a.entries = {{.name = name, .data = "evil", .external = std::string(name).back() == '/' ? 0x41ED0010u : 0x81A40000u}};
    WriteFile(t / "a.zip", Build(a).bytes);
    EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", t / "dest"), FALSE);
    EXPECT_EQ(ReadFile(t / "outside/x.txt"), "secret");
    EXPECT_EQ(Mode(t / "outside/x.txt"), 0444u);
    EXPECT_EQ(ListTree(t / "outside"), std::vector<std::string>{"x.txt"});
  }
}

TEST(ZipExtract, LinkAtATargetIsReplacedNotFollowed) {
  TempDir t;
  WriteFile(t / "outside.txt", "untouched", 0644);
  std::filesystem::create_directories(t / "dest");
  ASSERT_EQ(symlink((t / "outside.txt").c_str(), (t / "dest/f.txt").c_str()), 0);
  // A hard link shares its mode with the file outside: it is only unlinked.
  WriteFile(t / "outside-ro.txt", "read-only", 0444);
  ASSERT_EQ(link((t / "outside-ro.txt").c_str(), (t / "dest/h.txt").c_str()), 0);
  Archive a;
  a.entries = {{.name = "f.txt", .data = "inside"}, {.name = "h.txt", .data = "new"}};
  WriteFile(t / "a.zip", Build(a).bytes);
  EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", t / "dest"), TRUE);
  EXPECT_EQ(ReadFile(t / "outside.txt"), "untouched");
  EXPECT_EQ(ReadFile(t / "dest/f.txt"), "inside");
  EXPECT_FALSE(std::filesystem::is_symlink(t / "dest/f.txt"));
  EXPECT_EQ(ReadFile(t / "outside-ro.txt"), "read-only");
  EXPECT_EQ(Mode(t / "outside-ro.txt"), 0444u);
  EXPECT_EQ(ReadFile(t / "dest/h.txt"), "new");
}

TEST(ZipExtract, RemovedCurrentDirectory) {
  // A current directory that was removed has no path: nothing opens
  // relative to it (the root would become "/"), but absolute paths still
  // extract, and the process returns to where it was.
  TempDir t;
  Archive a;
  a.entries = {{.name = "tolvane-test-no-root/", .external = 0x41ED0010}};
  WriteFile(t / "a.zip", Build(a).bytes);
  const std::string before = platform::GetCurrentDir();
  std::filesystem::create_directories(t / "gone");
  ASSERT_TRUE(platform::SetCurrentDir(t / "gone"));
  std::filesystem::remove(t / "gone");
  EXPECT_EQ(ZipOpenFile((t / "a.zip").c_str()), nullptr);
  EXPECT_EQ(ExtractZipToDirectory("a.zip", t / "out"), FALSE);
  EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", t / "out"), TRUE);
  EXPECT_TRUE(IsDir(t / "out/tolvane-test-no-root"));
  EXPECT_EQ(platform::GetCurrentDir(), "") << "not back in the removed directory";
  platform::SetCurrentDir(before);
  EXPECT_FALSE(Exists("/tolvane-test-no-root"));
}

