#include "platform/file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "platform/cwd.h"
#include "platform/clock.h"
#include "support/support.h"

using namespace platform;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(File, CreateWriteReadAndTimes) {
  TempDir t;
  const std::string path = t / "f";
  FileHandle h = CreateFileForWriting(path, 0640);
  ASSERT_NE(h, kNoFile);
  EXPECT_TRUE(IsDiskFile(h));
  EXPECT_TRUE(WriteFileAll(h, "hello world", 11));
  FileTime access = 0, modification = 0;
  ASSERT_TRUE(UnixTimeToFileTime(1000000000, access));
  ASSERT_TRUE(UnixTimeToFileTime(1234567890, modification));
  EXPECT_TRUE(SetFileTimes(h, access, access + 5000000, modification));
  CloseFile(h);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u & ~umask(umask(0)));
  EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
  EXPECT_EQ(st.st_atim.tv_nsec, 500000000);
  EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);

  h = OpenFileForReading(path);
  ASSERT_NE(h, kNoFile);
  EXPECT_NE(fcntl(h, F_GETFD) & FD_CLOEXEC, 0);
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

TEST(File, CreateReplacesWritableAndRefusesTheRest) {
  TempDir t;
  WriteFile(t / "rw", "old and long", 0644);
  FileHandle h = CreateFileForWriting(t / "rw", 0600);
  ASSERT_NE(h, kNoFile);
  EXPECT_TRUE(WriteFileAll(h, "new", 3));
  CloseFile(h);
  EXPECT_EQ(ReadFile(t / "rw"), "new");

  // Read-only, even for root; a link (to a writable file); a directory.
  WriteFile(t / "ro", "keep", 0444);
  WriteFile(t / "target", "keep", 0644);
  ASSERT_EQ(symlink((t / "target").c_str(), (t / "link").c_str()), 0);
  ASSERT_EQ(symlink((t / "nowhere").c_str(), (t / "dangling").c_str()), 0);
  ASSERT_EQ(mkdir((t / "dir").c_str(), 0755), 0);
  for (const char* name : {"ro", "link", "dangling", "dir"}) {
    EXPECT_EQ(CreateFileForWriting(t / name, 0644), kNoFile) << name;
  }
  EXPECT_EQ(ReadFile(t / "ro"), "keep");
  EXPECT_EQ(ReadFile(t / "target"), "keep");
  EXPECT_FALSE(testing_support::Exists(t / "nowhere"));

  // A FIFO nobody reads must not hang the open.
  ASSERT_EQ(mkfifo((t / "fifo").c_str(), 0644), 0);
  EXPECT_EQ(CreateFileForWriting(t / "fifo", 0644), kNoFile);
}

TEST(File, PipeIsNoDiskFile) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  EXPECT_FALSE(IsDiskFile(fds[0]));
  close(fds[0]);
  close(fds[1]);
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
  const std::int64_t now = time(nullptr);
  EXPECT_LE(std::abs(FileTimeToUnixTime(CurrentFileTime()) - now), 2);
}

TEST(Cwd, GetAndSet) {
  const std::string before = GetCurrentDir();
  ASSERT_FALSE(before.empty());
  TempDir t;
  ASSERT_TRUE(SetCurrentDir(t.path()));
  EXPECT_EQ(GetCurrentDir(), t.path());
  // Longer than the 260 bytes of the original platform's buffer.
  std::string deep = t.path();
  for (int i = 0; i < 8; ++i) deep += "/" + std::string(60, 'd');
  std::filesystem::create_directories(deep);
  ASSERT_TRUE(SetCurrentDir(deep));
  EXPECT_EQ(GetCurrentDir(), deep);
  EXPECT_FALSE(SetCurrentDir(t / "missing"));
  EXPECT_FALSE(SetCurrentDir(""));
  ASSERT_TRUE(SetCurrentDir(before));
}
