// Whole archives unpacked into a directory: archives made by real tools,
// each extracted tree compared with python3 zipfile's reading of it, and
// the hostile and broken cases.
#include "archive/zip_extract.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "fs/paths.h"
#include "platform/cwd.h"
#include "support/support.h"
#include "zip_fixtures.h"

using namespace zip_fixtures;
using testing_support::CanRunUnixTools;
using testing_support::Exists;
using testing_support::GetFileTimes;
using testing_support::IsDir;
using testing_support::IsReadOnly;
using testing_support::ListTree;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// How the modification times of an archive's files relate to the source tree.
enum class Times {
  kExact,       // a "UT" block: the source's own
  kDos,         // MS-DOS time only, written in UTC here: to the 2 seconds
  kStamped,     // set by the script: 2024-02-29 23:59:58 UTC
  kNotCompared  // no source file
};

void ExpectTimes(Times kind, const std::string& src, const std::string& out) {
  if (kind == Times::kNotCompared) return;
  for (const std::string& rel : ListTree(out)) {
    if (rel.back() == '/') continue;
    const std::int64_t got = GetFileTimes(out + "/" + rel).modification;
    if (kind == Times::kStamped) {
      EXPECT_EQ(got, 1709251198) << rel;
      continue;
    }
    const std::int64_t want = GetFileTimes(src + "/" + rel).modification;
    if (kind == Times::kExact) EXPECT_EQ(got, want) << rel;
    else EXPECT_LE(std::abs(got - want), 2) << rel;
  }
}

// The archives of zip, bsdtar and python3 cannot be made from a Windows
// program; the byte-built ones serve both systems.
#define SKIP_WITHOUT_UNIX_TOOLS() \
  if (!CanRunUnixTools()) GTEST_SKIP() << "made by Unix tools, which this build cannot run"

struct Extracted {
  BOOL ok;
  std::string dir;
};

class Notices : public ZipExtractNotice {
 public:
  void OnItem(std::int32_t, const ZipItem& item, std::uint32_t nResult) override {
    results.push_back({item.m_szName, nResult});
  }
  std::vector<std::pair<std::string, std::uint32_t>> results;
};

}  // namespace

TEST(ZipExtract, ArchivesOfRealToolsMatchPythonsReading) {
  SKIP_WITHOUT_UNIX_TOOLS();
  TempDir t;
  const std::string src = t / "src";
  MakeSourceTree(src);
  const std::string zipDir = t / "zips";
  std::filesystem::create_directories(zipDir);
  const std::string py = R"(
import sys, zipfile
out, kind = sys.argv[1], sys.argv[2]
method = zipfile.ZIP_STORED if kind == 'stored' else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(out, 'w', method) as z:
    def add(name, data, attr, system=3):
        i = zipfile.ZipInfo(name, (2024, 2, 29, 23, 59, 58))
        i.external_attr = attr
        i.create_system = system
        i.compress_type = method
        z.writestr(i, data)
    add('plain.txt', b'plain\n' * 1000, 0o100644 << 16)
    add('tool/exec', b'#!/bin/sh\n', 0o100755 << 16)
    add('tool/', b'', (0o40755 << 16) | 0x10)
    add('win/made.txt', b'from windows' * 50, 0x20, 0)
    add('win/readonly.txt', b'ro', 0x21, 0)
    add('empty', b'', 0o100600 << 16)
    add('big.bin', bytes(range(256)) * 800, 0o100644 << 16)
)";
  struct Case {
    const char* name;
    std::function<void(const std::string& zip)> make;
    Times times;
  };
  // The tools write MS-DOS times in local time, which the reader takes as UTC.
  testing_support::ScopedEnv env;
  env.Set("TZ", "UTC");
  const std::vector<Case> cases = {
      {"zip -r", [&](const std::string& z) { RunTool({"zip", "-qr", z, "."}, src); }, Times::kExact},
      {"zip -r -X", [&](const std::string& z) { RunTool({"zip", "-qrX", z, "."}, src); }, Times::kDos},
      {"zip -r -0 (stored)", [&](const std::string& z) { RunTool({"zip", "-qr0", z, "."}, src); }, Times::kExact},
      {"zip with a comment",
       [&](const std::string& z) {
         RunTool({"zip", "-qr", z, "."}, src);
         RunTool({"zip", "-qz", z}, src, "an archive comment\nof two lines\n.\n");
       },
       Times::kExact},
      // Into a pipe, which zip cannot seek back in: data descriptors.
      {"zip streamed to a pipe",
       [&](const std::string& z) { RunTool({"sh", "-c", "zip -qr - . | cat > '" + z + "'"}, src); }, Times::kExact},
      {"zip of stdin, streamed to a pipe",
       [&](const std::string& z) { RunTool({"sh", "-c", "seq 1 30000 | zip -q -fz- - - | cat > '" + z + "'"}, src); },
       Times::kNotCompared},
      {"python zipfile, stored", [&](const std::string& z) { Python(py, {z, "stored"}); }, Times::kStamped},
      {"python zipfile, deflated", [&](const std::string& z) { Python(py, {z, "deflated"}); }, Times::kStamped},
      {"bsdtar --format zip", [&](const std::string& z) { RunTool({"bsdtar", "--format", "zip", "-cf", z, "."}, src); },
       Times::kExact},
      {"bsdtar --format zip, stored",
       [&](const std::string& z) {
         RunTool({"bsdtar", "--format", "zip", "--options", "zip:compression=store", "-cf", z, "."}, src);
       },
       Times::kExact},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string zip = zipDir + "/" + std::to_string(n) + ".zip";
    const std::string mine = t / ("mine" + std::to_string(n));
    const std::string theirs = t / ("py" + std::to_string(n));
    ++n;
    c.make(zip);
    ASSERT_TRUE(Exists(zip));
    Notices notices;
    ASSERT_EQ(ExtractZipToDirectory(zip, mine, &notices), TRUE);
    for (const auto& r : notices.results) EXPECT_EQ(r.second, ZI_OK) << r.first;
    PythonExtract(zip, theirs);
    ExpectSameTree(theirs, mine);
    ExpectTimes(c.times, src, mine);
  }
}

TEST(ZipExtract, WindowsEntriesAreReadOnlyFilesInWritableDirectories) {
  TempDir t;
  Archive a;
  a.entries = {{.name = "app/", .external = 0x10, .madeBy = 0x0014},
               {.name = "app/game.exe", .data = "MZ", .external = 0x20, .madeBy = 0x0014},
               {.name = "app/readme.txt", .data = "plain", .external = 0x00, .madeBy = 0x0014}};
  WriteFile(t / "win.zip", Build(a).bytes);
  ASSERT_EQ(ExtractZipToDirectory(t / "win.zip", t / "w"), TRUE);
  EXPECT_TRUE(IsReadOnly(t / "w/app/game.exe"));
  // Made on MS-DOS without any attribute: read-only too.
  EXPECT_TRUE(IsReadOnly(t / "w/app/readme.txt"));
  // Directories stay writable whatever the archive says.
  EXPECT_FALSE(IsReadOnly(t / "w/app"));
  // Twice into the same place, over the read-only copies.
  EXPECT_EQ(ExtractZipToDirectory(t / "win.zip", t / "w"), TRUE);
  EXPECT_EQ(ReadFile(t / "w/app/game.exe"), "MZ");
  EXPECT_TRUE(IsReadOnly(t / "w/app/game.exe"));
}

TEST(ZipExtract, DestinationForms) {
  TempDir t;
  Archive a;
  a.entries = {{.name = "d/", .external = 0x41ED0010}, {.name = "d/f.txt", .data = "in d", .external = 0x20}};
  WriteFile(t / "a.zip", Build(a).bytes);
  const std::string before = platform::GetCurrentDir();
  for (const std::string& dest : {t / "with/", t / "without", t / "nested/new/dir"}) {
    SCOPED_TRACE(dest);
    EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", dest), TRUE);
    EXPECT_EQ(ReadFile(dest + "/d/f.txt"), "in d");
    EXPECT_EQ(platform::GetCurrentDir(), before);
    // Again: the read-only file from the first run is replaced.
    EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", dest), TRUE);
    EXPECT_EQ(ListTree(dest), (std::vector<std::string>{"d/", "d/f.txt"}));
  }

  // Relative archive and destination paths both count from the caller's
  // current directory, also when extracting twice over read-only files.
  ASSERT_TRUE(platform::SetCurrentDir(t.path()));
  EXPECT_EQ(ExtractZipToDirectory("a.zip", "rel/out"), TRUE);
  EXPECT_EQ(ExtractZipToDirectory("./a.zip", "rel/out/"), TRUE);
  EXPECT_EQ(platform::GetCurrentDir(), t.path());
  platform::SetCurrentDir(before);
  EXPECT_EQ(ReadFile(t / "rel/out/d/f.txt"), "in d");
  EXPECT_FALSE(Exists(t / "rel/out/rel"));

  // Files that the archive does not hold stay.
  WriteFile(t / "without/keep.txt", "mine");
  EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", t / "without"), TRUE);
  EXPECT_EQ(ReadFile(t / "without/keep.txt"), "mine");
  EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", ""), FALSE);
}

TEST(ZipExtract, ArchivesThatCannotBeOpened) {
  TempDir t;
  WriteFile(t / "end-only.zip", Build(Archive{}).bytes);
  WriteFile(t / "text.zip", "not an archive at all");
  const std::string before = platform::GetCurrentDir();
  for (const char* name : {"missing.zip", "end-only.zip", "text.zip"}) {
    const std::string dest = t / (std::string("out-") + name);
    EXPECT_EQ(ExtractZipToDirectory(t / name, dest), FALSE) << name;
    EXPECT_TRUE(IsDir(dest)) << name;
    EXPECT_EQ(ListTree(dest), std::vector<std::string>{}) << name;
    EXPECT_EQ(platform::GetCurrentDir(), before);
  }
}

TEST(ZipExtract, DestinationThatCannotBeEnteredExtractsNothing) {
  TempDir t;
  Archive a;
  a.entries = {{.name = "f.txt", .data = "x"}};
  WriteFile(t / "a.zip", Build(a).bytes);
  WriteFile(t / "work/plainfile", "a file, not a directory");
  const std::string before = platform::GetCurrentDir();
  ASSERT_TRUE(platform::SetCurrentDir(t / "work"));
  EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", t / "work/plainfile"), FALSE);
  EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", t / "work/plainfile/below"), FALSE);
  platform::SetCurrentDir(before);
  EXPECT_EQ(ListTree(t / "work"), std::vector<std::string>{"plainfile"});
  EXPECT_EQ(ListTree(t.path()), (std::vector<std::string>{"a.zip", "work/", "work/plainfile"}));
}

TEST(ZipExtract, SecondOfThreeFailing) {
  TempDir t;
  Archive a;
  a.entries = {{.name = "one", .data = "1"}, {.name = "two", .data = "2"}, {.name = "three", .data = "3"}};
  WriteFile(t / "a.zip", Build(a).bytes);
  // A directory where the second item goes: it cannot be created.
  std::filesystem::create_directories(t / "out/two/occupied");
  Notices notices;
  EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", t / "out", &notices), FALSE);
  EXPECT_EQ(ReadFile(t / "out/one"), "1");
  EXPECT_FALSE(Exists(t / "out/three"));
  ASSERT_EQ(notices.results.size(), 2u);
  EXPECT_EQ(notices.results[1], (std::pair<std::string, std::uint32_t>{"two", ZI_NOFILE}));

  // A directory entry without directory bits is taken for a file.
  Archive b;
  b.entries = {{.name = "first", .data = "1"}, {.name = "dir/", .external = 0}, {.name = "last", .data = "3"}};
  WriteFile(t / "b.zip", Build(b).bytes);
  EXPECT_EQ(ExtractZipToDirectory(t / "b.zip", t / "outb"), FALSE);
  EXPECT_FALSE(Exists(t / "outb/last"));

  // A damaged entry fails the extraction.
  Archive c;
  c.entries = {{.name = "good", .data = "1"}, {.name = "bad", .data = std::string(5000, 'x'), .method = 8, .crc = 9}};
  WriteFile(t / "c.zip", Build(c).bytes);
  EXPECT_EQ(ExtractZipToDirectory(t / "c.zip", t / "outc"), FALSE);
  EXPECT_EQ(ReadFile(t / "outc/good"), "1");
}

TEST(ZipExtract, HostileNamesTouchNothingOutside) {
  // Names that climb out, or are absolute on one system or the other: a
  // root, a drive, a share (on loopback, should it ever be reached).
  const std::vector<std::string> names = {
      "../victim.txt", "sub/../../victim.txt", "..\\victim.txt", "sub\\..\\..\\victim.txt", "/ABS/victim.txt",
      "\\ABS\\victim.txt", "C:victim.txt", "C:\\victim.txt", "c:/victim.txt", "\\\\127.0.0.1\\share\\victim.txt",
      "//127.0.0.1/share/victim.txt", "../newdir/", "../newfile"};
  for (std::size_t i = 0; i <= names.size(); ++i) {
    TempDir t;
    // The victim's own absolute path, in the system's form, last.
    const std::string name = i < names.size() ? names[i] : t / "victim.txt";
    SCOPED_TRACE(name);
    // victim.txt lies right outside the destination, read-only, where the
    // pre-delete would reach.
    WriteFile(t / "victim.txt", "precious", 0444);
    Archive a;
    a.entries = {{.name = "before.txt", .data = "ok"},
                 {.name = name, .data = "evil", .external = name.back() == '/' ? 0x41ED0010u : 0x81A40000u},
                 {.name = "after.txt", .data = "not reached"}};
    WriteFile(t / "a.zip", Build(a).bytes);
    Notices notices;
    EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", t / "dest", &notices), FALSE);
    EXPECT_EQ(ReadFile(t / "victim.txt"), "precious");
    EXPECT_TRUE(IsReadOnly(t / "victim.txt"));
    EXPECT_EQ(ListTree(t.path()), (std::vector<std::string>{"a.zip", "dest/", "dest/before.txt", "victim.txt"}));
    ASSERT_EQ(notices.results.size(), 2u);
    EXPECT_EQ(notices.results[1].second, ZI_NOFILE);
  }
}

TEST(ZipExtract, Zip64LocalHeadersAreRefused) {
  // zip writes a Zip64 local header for input of unknown size: all ones for
  // both sizes, the real ones in a Zip64 block. 64-bit extensions are not
  // read, and the entry must not pass as written.
  TempDir t;
  std::string text;
  for (int i = 1; i <= 30000; ++i) text += std::to_string(i) + "\n";
  std::string zip64 = std::string("\x01\x00\x10\x00", 4) + std::string(16, '\0');
  Put32(zip64, 4, static_cast<std::uint32_t>(text.size()));
  Put32(zip64, 12, static_cast<std::uint32_t>(Deflate(text).size()));
  Archive a;
  a.entries = {{.name = "-", .data = text, .method = 8, .localExtra = zip64}};
  Built b = Build(a);
  Put32(b.bytes, b.localOffsets[0] + 18, 0xFFFFFFFF);
  Put32(b.bytes, b.localOffsets[0] + 22, 0xFFFFFFFF);
  WriteFile(t / "built.zip", b.bytes);
  EXPECT_EQ(ExtractZipToDirectory(t / "built.zip", t / "out"), FALSE);
  EXPECT_EQ(ListTree(t / "out"), std::vector<std::string>{});
}

TEST(ZipExtract, Zip64LocalHeaderOfZipIsRefused) {
  SKIP_WITHOUT_UNIX_TOOLS();
  TempDir t;
  RunTool({"sh", "-c", "seq 1 30000 | zip -q '" + t / "s.zip" + "' -"}, t.path());
  EXPECT_EQ(ExtractZipToDirectory(t / "s.zip", t / "out"), FALSE);
  EXPECT_EQ(ListTree(t / "out"), std::vector<std::string>{});
}

TEST(ZipExtract, ArchiveWithoutItemsIsASuccess) {
  // An end record behind a stub opens (it is not at position 0) and holds nothing.
  TempDir t;
  Archive a;
  a.prefix = "#!stub\n";
  WriteFile(t / "none.zip", Build(a).bytes);
  EXPECT_EQ(ExtractZipToDirectory(t / "none.zip", t / "out"), TRUE);
  EXPECT_EQ(ListTree(t / "out"), std::vector<std::string>{});
}

TEST(ZipExtract, EmptyArchiveOfATool) {
  // zip cannot write an empty archive; python can, and it is only an end
  // record, which does not open.
  SKIP_WITHOUT_UNIX_TOOLS();
  TempDir t;
  Python("import sys, zipfile\nzipfile.ZipFile(sys.argv[1], 'w').close()", {t / "e.zip"});
  EXPECT_EQ(std::filesystem::file_size(t / "e.zip"), 22u);
  EXPECT_EQ(ExtractZipToDirectory(t / "e.zip", t / "out"), FALSE);
}

TEST(ZipExtract, TrailBytesOfADoubleByteLocaleAreNoSeparators) {
  // In GBK, 0x81 0x5C is one character whose second byte is a backslash:
  // a name holding it is one file, and only real backslashes separate.
  testing_support::ScopedGbkLocale loc;
  if (!loc.ok()) GTEST_SKIP() << loc.error();
  TempDir t;
  Archive a;
  a.entries = {{.name = "a\x81\x5C" "b.txt", .data = "one file"},
               {.name = "d\x81\x5C\\f\x81\x5C.txt", .data = "below d\x81\x5C"},
               {.name = "e\x81\x5C/", .external = 0x41ED0010}};
  WriteFile(t / "gbk.zip", Build(a).bytes);
  EXPECT_EQ(ExtractZipToDirectory(t / "gbk.zip", t / "out"), TRUE);
  EXPECT_EQ(ListTree(t / "out"), (std::vector<std::string>{"a\x81\x5C" "b.txt", "d\x81\x5C/", "d\x81\x5C/f\x81\x5C.txt",
                                                          "e\x81\x5C/"}));
  EXPECT_EQ(ReadFile(t / "out/d\x81\x5C/f\x81\x5C.txt"), "below d\x81\x5C");
}

TEST(ZipExtract, EmptyAndDotComponentsOfNamesAreSteppedOver) {
  TempDir t;
  Archive a;
  a.entries = {{.name = "a//b.txt", .data = "b"},
               {.name = "./c.txt", .data = "c"},
               {.name = "d/./e/", .external = 0x41ED0010},
               {.name = "d\\.\\e\\\\f.txt", .data = "f"}};
  WriteFile(t / "a.zip", Build(a).bytes);
  EXPECT_EQ(ExtractZipToDirectory(t / "a.zip", t / "out"), TRUE);
  EXPECT_EQ(ListTree(t / "out"), (std::vector<std::string>{"a/", "a/b.txt", "c.txt", "d/", "d/e/", "d/e/f.txt"}));
  EXPECT_EQ(ReadFile(t / "out/d/e/f.txt"), "f");
}

TEST(ZipExtract, TreesPastMaxPathAreUnpackedWholeAndDeletedWhole) {
  // A data directory is 50 to 80 bytes deep before a package's first name;
  // names of items stay below 260 bytes, whole paths do not.
  const std::string sep = testing_support::SystemPath("/");
  const std::string a(100, 'a'), b(100, 'b');
  for (const std::size_t length : {300u, 600u}) {
    TempDir t;
    // The destination as deep as it takes, and the deepest file's name as
    // long, for that file to land at length bytes (separators counted).
    std::string dest = t / "data";
    ASSERT_LE(dest.size() + 1 + 202 + 3 + 4, length);
    std::size_t last = length - dest.size() - 1 - 202 - 4;
    for (; last > 53; last -= 51) dest += sep + std::string(50, 'p');
    const std::string deepest = a + "/" + b + "/" + std::string(last, 'c') + ".dat";
    ASSERT_EQ(dest.size() + 1 + deepest.size(), length);
    Archive z;
    z.entries = {{.name = a + "/", .external = 0x41ED0010},
                 {.name = a + "/top.txt", .data = "top", .external = 0x20},
                 {.name = a + "/" + b + "/mid.txt", .data = "mid"},
                 {.name = deepest, .data = std::string(70000, 'd'), .method = 8, .external = 0x21}};
    WriteFile(t / "deep.zip", Build(z).bytes);
    EXPECT_EQ(ExtractZipToDirectory(t / "deep.zip", dest), TRUE) << length;
    EXPECT_EQ(ListTree(dest), (std::vector<std::string>{a + "/", a + "/" + b + "/", deepest, a + "/" + b + "/mid.txt",
                                                        a + "/top.txt"}))
        << length;
    EXPECT_EQ(ReadFile(dest + sep + testing_support::SystemPath(deepest)), std::string(70000, 'd')) << length;
    EXPECT_TRUE(IsReadOnly(dest + sep + testing_support::SystemPath(deepest))) << length;
    // Again, over the read-only copies.
    EXPECT_EQ(ExtractZipToDirectory(t / "deep.zip", dest), TRUE) << length;
    DeleteDirectoryContents(t / "data");
    EXPECT_EQ(ListTree(t / "data"), std::vector<std::string>{}) << length;
    EXPECT_TRUE(IsDir(t / "data")) << length;
  }
}
