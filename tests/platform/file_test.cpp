#include "platform/file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/clock.h"
#include "platform/files.h"
#include "support/support.h"

using namespace platform;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(File, CreateWriteAndRead) {
  TempDir t;
  const std::string path = t / "f";
  FileHandle h = CreateFileForWriting(path, 0640);
  ASSERT_NE(h, kNoFile);
  EXPECT_TRUE(IsDiskFile(h));
  EXPECT_TRUE(WriteFileAll(h, "hello world", 11));
  CloseFile(h);

  h = OpenFileForReading(path);
  ASSERT_NE(h, kNoFile);
  std::uint64_t size = 0;
  EXPECT_TRUE(GetFileSize(h, size));
  EXPECT_EQ(size, 11u);
  char buf[32] = {};
  EXPECT_EQ(ReadFileAt(h, 6, buf, sizeof buf), 5);
  EXPECT_STREQ(buf, "world");
  EXPECT_EQ(ReadFileAt(h, 100, buf, sizeof buf), 0);
  CloseFile(h);
  EXPECT_EQ(OpenFileForReading(t / "missing"), kNoFile);
}

TEST(File, ContinueKeepsTheFirstBytesAndWritesAfterThem) {
  TempDir t;
  struct Case {
    const char* name;
    std::uint64_t keep;
    const char* after;  // the file after writing "XY"; nullptr when the open must fail
  } cases[] = {
      {"all of it", 10, "0123456789XY"},
      {"a part, the rest cut off", 4, "0123XY"},
      {"none", 0, "XY"},
      {"more than it holds", 11, nullptr},
  };
  for (const Case& c : cases) {
    WriteFile(t / "f", "0123456789", 0644);
    const FileHandle h = OpenFileToContinue(t / "f", c.keep);
    if (c.after == nullptr) {
      EXPECT_EQ(h, kNoFile) << c.name;
      EXPECT_EQ(ReadFile(t / "f"), "0123456789") << c.name;
      continue;
    }
    ASSERT_NE(h, kNoFile) << c.name;
    EXPECT_TRUE(WriteFileAll(h, "XY", 2)) << c.name;
    CloseFile(h);
    EXPECT_EQ(ReadFile(t / "f"), c.after) << c.name;
  }
  // What CreateFileForWriting refuses, and a file that is not there.
  WriteFile(t / "ro", "keep", 0444);
  EXPECT_EQ(OpenFileToContinue(t / "ro", 2), kNoFile);
  EXPECT_EQ(ReadFile(t / "ro"), "keep");
  ASSERT_TRUE(CreateOneDirectory(t / "dir"));
  EXPECT_EQ(OpenFileToContinue(t / "dir", 0), kNoFile);
  EXPECT_EQ(OpenFileToContinue(t / "missing", 0), kNoFile);
}

TEST(File, CreateReplacesWritableAndRefusesReadOnlyAndDirectories) {
  TempDir t;
  WriteFile(t / "rw", "old and long", 0644);
  FileHandle h = CreateFileForWriting(t / "rw", 0600);
  ASSERT_NE(h, kNoFile);
  EXPECT_TRUE(WriteFileAll(h, "new", 3));
  CloseFile(h);
  EXPECT_EQ(ReadFile(t / "rw"), "new");

  // Made read-only by its own mode (the read-only attribute on Windows);
  // refused even for root, and even with a writable mode asked for.
  h = CreateFileForWriting(t / "ro", 0444);
  ASSERT_NE(h, kNoFile);
  EXPECT_TRUE(WriteFileAll(h, "keep", 4));
  CloseFile(h);
  EXPECT_EQ(CreateFileForWriting(t / "ro", 0644), kNoFile);
  EXPECT_EQ(ReadFile(t / "ro"), "keep");

  ASSERT_TRUE(CreateOneDirectory(t / "dir"));
  EXPECT_EQ(CreateFileForWriting(t / "dir", 0644), kNoFile);
  EXPECT_TRUE(PathIsDirectory(t / "dir"));
}

TEST(FileTime, MsDosDateAndTimeAsUtc) {
  const struct {
    std::uint16_t date, time;
    bool valid;
    std::int64_t unix;
  } cases[] = {
      {0x0021, 0x0000, true, 315532800},         // 1980-01-01 00:00:00
      {0x5A8A, 0x6000, true, 1744286400},        // 2025-04-10 12:00:00
      {0x585D, 0xBF7D, true, 1709251198},        // 2024-02-29 23:59:58
      {0xFF9F, 0xBF7D, true, 4354819198},        // 2107-12-31 23:59:58
      {0x0000, 0x0000, false, 0},                // month 0
      {0x5A5E, 0x0000, false, 0},                // 2025-02-30
      {0x5A8A, 0xC000, false, 0},                // hour 24
      {0x5A8A, 0x0780, false, 0},                // minute 60
      {0x5A8A, 0x001E, false, 0},                // second 60
  };
  for (const auto& c : cases) {
    FileTime ft = 0;
    EXPECT_EQ(DosDateTimeToFileTime(c.date, c.time, ft), c.valid) << std::hex << c.date << " " << c.time;
    if (c.valid) {
      EXPECT_EQ(FileTimeToUnixTime(ft), c.unix) << std::hex << c.date << " " << c.time;
    }
  }
}

TEST(FileTime, UnixTimesAndFormatting) {
  FileTime ft = 0;
  EXPECT_FALSE(UnixTimeToFileTime(-1, ft));
  ASSERT_TRUE(UnixTimeToFileTime(0, ft));
  EXPECT_EQ(ft, 116444736000000000);  // 1970 in 100 ns steps since 1601
  EXPECT_EQ(FormatFileTimeUtc(ft), "1970-01-01 00:00:00");
  ASSERT_TRUE(UnixTimeToFileTime(1709251198, ft));
  EXPECT_EQ(FormatFileTimeUtc(ft), "2024-02-29 23:59:58");
  EXPECT_EQ(FileTimeToUnixTime(ft + 9999999), 1709251198);
  ASSERT_TRUE(UnixTimeToFileTime(253402300799, ft));
  EXPECT_EQ(FormatFileTimeUtc(ft), "9999-12-31 23:59:59");
  // The ends of the scale, where a system's own conversion may give up.
  EXPECT_EQ(FormatFileTimeUtc(0), "1601-01-01 00:00:00");
  EXPECT_EQ(FormatFileTimeUtc(-1), "1600-12-31 23:59:59");
  const std::int64_t now = time(nullptr);
  EXPECT_LE(std::abs(FileTimeToUnixTime(CurrentFileTime()) - now), 2);
  EXPECT_LE(std::abs(CurrentTime() - now), 2);
}

TEST(Clock, UtcTimeRollsFieldsOverAsTimegm) {
  // Both builds must give these (glibc's timegm does).
  const struct {
    int year, month, day, hour, minute, second;
    std::int64_t t;
  } cases[] = {
      {1970, 1, 1, 0, 0, 0, 0},
      {1969, 12, 31, 23, 59, 59, -1},
      {1900, 1, 1, 0, 0, 0, -2208988800},
      {1601, 1, 1, 0, 0, 0, -11644473600},
      {1600, 3, 1, 0, 0, 0, -11670912000},
      {2024, 2, 29, 23, 59, 58, 1709251198},
      {2038, 1, 19, 3, 14, 8, 2147483648},
      {2106, 2, 7, 6, 28, 16, 4294967296},
      {10000, 1, 1, 0, 0, 0, 253402300800},
      {30828, 1, 1, 0, 0, 0, 910670515200},
      {2015, 2, 30, 0, 0, 0, 1425254400},   // March 2nd
      {2023, 13, 1, 0, 0, 0, 1704067200},   // January of the next year
      {2024, 0, 1, 0, 0, 0, 1701388800},    // December of the year before
      {2000, -13, 15, 12, 0, 0, 911131200}, // November 1998
      {2024, 3, 0, 0, 0, 0, 1709164800},    // the last of February
      {2024, 2, 29, 24, 0, 0, 1709251200},
      {2024, 3, 1, 0, -1, 0, 1709251140},
      {1970, 1, 1, 0, 0, 60, 60},
  };
  for (const auto& c : cases) {
    std::int64_t t = 0;
    ASSERT_TRUE(UtcTime(c.year, c.month, c.day, c.hour, c.minute, c.second, t)) << c.year << "-" << c.month;
    EXPECT_EQ(t, c.t) << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute << ":" << c.second;
  }
}
