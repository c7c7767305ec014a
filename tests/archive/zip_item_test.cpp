// Item records and single-item extraction, on archives built byte by byte.
#include "archive/zip_item.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "support/support.h"
#include "zip_fixtures.h"
#include "zip_item_fixture.h"

using namespace zip_fixtures;
using testing_support::Exists;
using testing_support::IsDir;
using testing_support::GetFileTimes;
using testing_support::IsReadOnly;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// 2025-04-10 12:00:00 UTC, the builder's default MS-DOS stamp.
constexpr std::int64_t kDosStamp = 1744286400;

std::int64_t Seconds(platform::FileTime t) { return platform::FileTimeToUnixTime(t); }

}  // namespace

TEST(ZipItem, AttributeMapping) {
  const struct {
    std::uint32_t external, attributes;
  } cases[] = {
      {0x00000020, 0xA1},  // made on Windows: read-only
      {0x81A40000, 0x80},  // Unix 0644
      {0x81ED0000, 0x80},  // Unix 0755
      {0x81240000, 0x81},  // Unix 0444
      {0x41ED0000, 0x90},  // Unix directory 0755
      {0x41ED0010, 0x90},
      {0x00000010, 0x91},  // MS-DOS directory
      {0x81A40001, 0x81},  // MS-DOS read-only bit on a Unix entry
      {0x81A40006, 0x86},  // hidden, system
      {0x00000000, 0x81},
  };
  for (const auto& c : cases) EXPECT_EQ(ZipAttributesFromExternal(c.external), c.attributes) << std::hex << c.external;
}

TEST(ZipItem, FileModeKeepsUnixPermissionsAndDropsWriteWhenReadOnly) {
  const struct {
    std::uint32_t external;
    unsigned mode;
  } cases[] = {
      {0x81ED0000, 0755}, {0x81A40000, 0644}, {0x81240000, 0444}, {0x81ED0001, 0555},
      {0x00000020, 0444}, {0x00000000, 0444}, {0x8DED0000, 0755},  // set-id bits never come through
      {0xA1FF0000, 0777},                                         // a link's mode on a plain file
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZipFileMode(c.external, ZipAttributesFromExternal(c.external)), c.mode) << std::hex << c.external;
  }
}

TEST(ZipItem, UnsafeNames) {
  // Absolute on one system or the other: a root, a drive, a share.
  for (const char* name : {"/etc/x", "\\x", "C:x", "c:\\x", "C:/x", "C:", "\\\\server\\share\\x", "//server/share/x",
                           "\\\\?\\C:\\x", "..", "../x", "..\\x", "a/../../x", "a\\..\\..\\x", "a/..", "a/../b", "a\\..",
                           "..\\"}) {
    EXPECT_TRUE(IsUnsafeItemName(name)) << name;
  }
  for (const char* name : {"a", "a/b/", "..a", "a..", "a/..b/c", "...", "a/.../b", "./a", "a\\b", "ab:c", ""}) {
    EXPECT_FALSE(IsUnsafeItemName(name)) << name;
  }
}

TEST(ZipItem, CountQueryRangesAndOrder) {
  InDir d;
  ZipHandle* h = d.Open(Three());
  ASSERT_NE(h, nullptr);
  ZipItem item;
  ASSERT_EQ(ZipGetItem(h, -1, &item), ZI_OK);
  EXPECT_EQ(item.m_nIndex, 3);
  EXPECT_STREQ(item.m_szName, "");
  EXPECT_EQ(item.m_nUncompressedSize, 0u);
  EXPECT_EQ(ZipGetItem(h, 3, &item), ZI_ARGS);
  EXPECT_EQ(ZipGetItem(h, -2, &item), ZI_ARGS);
  EXPECT_EQ(ZipExtractItem(h, 3, "x"), ZI_ARGS);
  EXPECT_EQ(ZipExtractItem(h, -1, "x"), ZI_ARGS);

  const char* names[] = {"a.txt", "b/c.txt", "d.bin"};
  for (int i : {2, 0, 1, 1, 2}) {
    ASSERT_EQ(ZipGetItem(h, i, &item), ZI_OK) << i;
    EXPECT_EQ(item.m_nIndex, i);
    EXPECT_STREQ(item.m_szName, names[i]);
  }
  EXPECT_EQ(item.m_nUncompressedSize, 5u);
  ASSERT_EQ(ZipGetItem(h, 1, &item), ZI_OK);
  EXPECT_EQ(item.m_nUncompressedSize, 50000u);
  EXPECT_LT(item.m_nCompressedSize, 1000u);

  // Extraction in the same scattered order.
  for (int i : {2, 0, 1}) EXPECT_EQ(ZipExtractItem(h, i, names[i]), ZI_OK) << i;
  EXPECT_EQ(ReadFile(d.dir / "a.txt"), "alpha");
  EXPECT_EQ(ReadFile(d.dir / "b/c.txt"), std::string(50000, 'b'));
  EXPECT_EQ(ReadFile(d.dir / "d.bin"), "delta");

  h->m_nMode = 2;
  EXPECT_EQ(ZipGetItem(h, 0, &item), ZI_MODE);
  EXPECT_EQ(ZipExtractItem(h, 0, "x"), ZI_MODE);
  EXPECT_EQ(ZipCloseFile(h), ZI_MODE);
  h->m_nMode = 1;
}

TEST(ZipItem, TimesFromMsDosAndUtBlocks) {
  const std::int32_t m = 1600000000, acc = 1600000100, cre = 1600000200;
  const struct {
    const char* what;
    std::string extra;
    std::int64_t modification, access, creation;
  } cases[] = {
      {"no extra field", "", kDosStamp, kDosStamp, kDosStamp},
      {"modification only", UtBlock(1, {m}), m, kDosStamp, kDosStamp},
      {"all three", UtBlock(7, {m, acc, cre}), m, acc, cre},
      {"access only", UtBlock(2, {acc}), kDosStamp, acc, kDosStamp},
      {"after a 200-byte block", OtherBlock(0x7875, 200) + UtBlock(3, {m, acc}), m, acc, kDosStamp},
      {"after a 300-byte block", OtherBlock(0x7875, 300) + UtBlock(1, {m}), m, kDosStamp, kDosStamp},
      {"only the first UT counts", UtBlock(1, {m}) + UtBlock(1, {m + 5}), m, kDosStamp, kDosStamp},
      {"three announced, one held, field ends", UtBlock(1, {m}).replace(4, 1, "\x07"), m, kDosStamp, kDosStamp},
      {"two announced, one held, another block follows",
       UtBlock(1, {m}).replace(4, 1, "\x03") + OtherBlock(0x7875, 11), m, kDosStamp, kDosStamp},
      {"block size beyond the field", UtBlock(3, {m, acc}).substr(0, 9), m, kDosStamp, kDosStamp},
      {"a field of 4 bytes is not searched", std::string("UT\x00\x00", 4), kDosStamp, kDosStamp, kDosStamp},
  };
  // Behind a stub as well: the extra field lies at an offset that the
  // prefix shifts, like every other.
  for (const std::string& prefix : {std::string(), std::string(5000, '\x7f')}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(prefix.size());
      InDir d;
      Archive a;
      a.prefix = prefix;
      a.entries = {{.name = "f", .data = "x", .localExtra = c.extra, .centralExtra = UtBlock(1, {123})}};
      ZipHandle* h = d.Open(a);
      ASSERT_NE(h, nullptr) << c.what;
      ZipItem item;
      ASSERT_EQ(ZipGetItem(h, 0, &item), ZI_OK) << c.what;
      EXPECT_EQ(Seconds(item.m_tModification), c.modification) << c.what;
      EXPECT_EQ(Seconds(item.m_tAccess), c.access) << c.what;
      EXPECT_EQ(Seconds(item.m_tCreation), c.creation) << c.what;
    }
  }
}

TEST(ZipItem, NegativeUtTimeBecomesNowAndBadDosDateIsDefined) {
  InDir d;
  Archive a;
  a.entries = {{.name = "neg", .data = "x", .localExtra = UtBlock(1, {-100})},
               {.name = "baddate", .data = "y", .dosDate = 0, .dosTime = 0}};
  ZipHandle* h = d.Open(a);
  ASSERT_NE(h, nullptr);
  ZipItem item;
  // The item takes "now" from the precise clock; time() may lag it by a tick.
  auto now = [] {
    return static_cast<std::int64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
  };
  const std::int64_t before = now();
  ASSERT_EQ(ZipGetItem(h, 0, &item), ZI_OK);
  EXPECT_GE(Seconds(item.m_tModification), before);
  EXPECT_LE(Seconds(item.m_tModification), now());
  EXPECT_EQ(Seconds(item.m_tAccess), kDosStamp);
  ASSERT_EQ(ZipGetItem(h, 1, &item), ZI_OK);
  EXPECT_EQ(Seconds(item.m_tModification), 315532800);  // 1980-01-01
}

TEST(ZipItem, ExtractWritesModeTimesAndDirectories) {
  InDir d;
  Archive a;
  a.entries = {
      {.name = "sub/dir/file.txt", .data = "deep", .localExtra = UtBlock(3, {1600000000, 1500000000})},
      {.name = "pics/", .data = "", .external = 0x41ED0010},
      {.name = "win.txt", .data = "windows", .external = 0x20, .madeBy = 0x0014},
      {.name = "run.sh", .data = "#!/bin/sh\n", .external = 0x81ED0000},
      {.name = "back\\slash.txt", .data = "both separators", .external = 0x20},
  };
  ZipHandle* h = d.Open(a);
  ASSERT_NE(h, nullptr);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(ZipExtractItem(h, i, a.entries[i].name.c_str()), ZI_OK) << i;

  // Before any read, which would move the access time.
  const testing_support::FileTimes times = GetFileTimes(d.dir / "sub/dir/file.txt");
  EXPECT_EQ(times.modification, 1600000000);
  EXPECT_EQ(times.access, 1500000000);
  EXPECT_EQ(ReadFile(d.dir / "sub/dir/file.txt"), "deep");
  EXPECT_TRUE(IsDir(d.dir / "pics"));
  EXPECT_EQ(testing_support::ListTree(d.dir / "pics"), std::vector<std::string>{});

  EXPECT_TRUE(IsReadOnly(d.dir / "win.txt"));
  EXPECT_EQ(GetFileTimes(d.dir / "win.txt").modification, kDosStamp);
  EXPECT_FALSE(IsReadOnly(d.dir / "run.sh"));
  EXPECT_FALSE(IsReadOnly(d.dir / "sub/dir/file.txt"));
  EXPECT_EQ(ReadFile(d.dir / "back/slash.txt"), "both separators");

  // A directory entry without any directory bit is a file, and its empty
  // file name cannot be created.
  Archive bad;
  bad.entries = {{.name = "nodir/", .data = "", .external = 0}};
  InDir e;
  ZipHandle* h2 = e.Open(bad);
  ASSERT_NE(h2, nullptr);
  EXPECT_EQ(ZipExtractItem(h2, 0, "nodir/"), ZI_NOFILE);
}

TEST(ZipItem, TargetsThatAreRefused) {
  InDir d;
  ZipHandle* h = d.Open(Three());
  ASSERT_NE(h, nullptr);

  // An existing read-only file, even for root.
  WriteFile(d.dir / "ro.txt", "keep", 0444);
  EXPECT_EQ(ZipExtractItem(h, 0, "ro.txt"), ZI_NOFILE);
  EXPECT_EQ(ReadFile(d.dir / "ro.txt"), "keep");

  // A directory.
  ASSERT_TRUE(std::filesystem::create_directory(d.dir / "adir"));
  EXPECT_EQ(ZipExtractItem(h, 0, "adir"), ZI_NOFILE);

  // A writable file is replaced.
  WriteFile(d.dir / "rw.txt", "a much longer earlier content");
  EXPECT_EQ(ZipExtractItem(h, 0, "rw.txt"), ZI_OK);
  EXPECT_EQ(ReadFile(d.dir / "rw.txt"), "alpha");

  // No directories for a target that climbs or is absolute elsewhere.
  EXPECT_EQ(ZipExtractItem(h, 0, "../made/x.txt"), ZI_NOFILE);
  EXPECT_FALSE(Exists(d.dir / "../made"));
  EXPECT_EQ(ZipExtractItem(h, 0, "C:\\x\\y.txt"), ZI_NOFILE);
  EXPECT_FALSE(Exists(d.dir / "C:") || Exists("C:\\x"));
}

TEST(ZipItem, DataThatIsNotTheStoredDataFailsWithWrite) {
  const std::string text(30000, 't');
  const struct {
    const char* what;
    Entry entry;
    bool fileMade;
  } cases[] = {
      {"wrong CRC-32", {.name = "f", .data = "stored", .crc = 0x12345678}, true},
      {"wrong CRC-32, deflated", {.name = "f", .data = text, .method = 8, .crc = 1}, true},
      {"stored, larger than its data", {.name = "f", .data = "short", .size = 100000}, true},
      {"deflated, larger than its stream", {.name = "f", .data = text, .method = 8, .size = 30001}, true},
      {"deflated, smaller than its stream", {.name = "f", .data = text, .method = 8, .size = 29999}, true},
      {"damaged stream",
       {.name = "f", .data = text, .method = 8, .rawData = std::string("\x07", 1) + Deflate(text)},
       true},
      {"encrypted", {.name = "f", .data = "secret", .flags = 1}, false},
      {"method 12", {.name = "f", .data = "x", .method = 12, .rawData = "x"}, false},
  };
  for (const auto& c : cases) {
    InDir d;
    Archive a;
    a.entries = {c.entry};
    ZipHandle* h = d.Open(a);
    ASSERT_NE(h, nullptr) << c.what;
    // The method is checked against the local header when the item is read.
    const std::uint32_t expected = c.entry.method == 12 ? ZI_CORRUPT : ZI_WRITE;
    EXPECT_EQ(ZipExtractItem(h, 0, "out"), expected) << c.what;
    EXPECT_EQ(Exists(d.dir / "out"), c.fileMade) << c.what;
  }
}

TEST(ZipItem, NamesOf260BytesOrMoreAreRefused) {
  InDir d;
  Archive a;
  a.entries = {{.name = std::string(259, 'n'), .data = "fits"},
               {.name = std::string(260, 'm'), .data = "too long"},
               {.name = std::string(1000, 'l'), .data = "far too long"},
               {.name = "after", .data = "reachable"}};
  ZipHandle* h = d.Open(a);
  ASSERT_NE(h, nullptr);
  ZipItem item;
  ASSERT_EQ(ZipGetItem(h, 0, &item), ZI_OK);
  EXPECT_EQ(std::string(item.m_szName), std::string(259, 'n'));
  EXPECT_EQ(ZipGetItem(h, 1, &item), ZI_CORRUPT);
  EXPECT_EQ(ZipGetItem(h, 2, &item), ZI_CORRUPT);
  EXPECT_EQ(ZipExtractItem(h, 2, "x"), ZI_CORRUPT);
  EXPECT_FALSE(Exists(d.dir / "x"));
  ASSERT_EQ(ZipGetItem(h, 3, &item), ZI_OK);
  EXPECT_STREQ(item.m_szName, "after");
}

TEST(ZipItem, BrokenRecordsAndHeaders) {
  const Built good = Build(Three());
  const struct {
    const char* what;
    std::size_t at;
    std::uint32_t code;
  } cases[] = {
      {"central signature", good.centralOffsets[1], ZI_CORRUPT},
      {"local signature", good.localOffsets[1], ZI_CORRUPT},
      {"local header past the end", good.centralOffsets[1] + 42, ZI_CORRUPT},
  };
  for (const auto& c : cases) {
    InDir d;
    std::string bytes = good.bytes;
    Put32(bytes, c.at, 0x7FFFFFF0);
    WriteFile(d.dir / "a.zip", bytes);
    d.handle = ZipOpenFile((d.dir / "a.zip").c_str());
    ASSERT_NE(d.handle, nullptr) << c.what;
    ZipItem item;
    EXPECT_EQ(ZipGetItem(d.handle, 1, &item), c.code) << c.what;
    EXPECT_EQ(ZipGetItem(d.handle, 0, &item), ZI_OK) << c.what;
  }

  // An extra field announced longer than the file holds.
  Archive a;
  a.entries = {{.name = "e", .data = ""}};
  Built b = Build(a);
  Put16(b.bytes, b.localOffsets[0] + 28, 60000);
  InDir d;
  WriteFile(d.dir / "a.zip", b.bytes);
  d.handle = ZipOpenFile((d.dir / "a.zip").c_str());
  ASSERT_NE(d.handle, nullptr);
  ZipItem item;
  EXPECT_EQ(ZipGetItem(d.handle, 0, &item), ZI_READ);
}

TEST(ZipItem, OpenFailsWithoutAnArchive) {
  TempDir t;
  WriteFile(t / "end-only.zip", Build(Archive{}).bytes);
  EXPECT_EQ(ZipOpenFile((t / "end-only.zip").c_str()), nullptr);
  EXPECT_EQ(ZipOpenFile((t / "missing.zip").c_str()), nullptr);
  EXPECT_EQ(ZipOpenFile(nullptr), nullptr);
}
