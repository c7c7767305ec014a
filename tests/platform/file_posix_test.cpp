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

TEST(File, ModeTimesAndCloseOnExec) {
  TempDir t;
  const std::string path = t / "f";
  FileHandle h = CreateFileForWriting(path, 0640);
  ASSERT_NE(h, kNoFile);
  EXPECT_NE(fcntl(static_cast<int>(h), F_GETFD) & FD_CLOEXEC, 0);
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
  EXPECT_NE(fcntl(static_cast<int>(h), F_GETFD) & FD_CLOEXEC, 0);
  CloseFile(h);
}

TEST(File, CreateRefusesLinksAndFifos) {
  TempDir t;
  // A link (to a writable file); a dangling one.
  WriteFile(t / "target", "keep", 0644);
  ASSERT_EQ(symlink((t / "target").c_str(), (t / "link").c_str()), 0);
  ASSERT_EQ(symlink((t / "nowhere").c_str(), (t / "dangling").c_str()), 0);
  for (const char* name : {"link", "dangling"}) {
    EXPECT_EQ(CreateFileForWriting(t / name, 0644), kNoFile) << name;
  }
  EXPECT_EQ(ReadFile(t / "target"), "keep");
  EXPECT_FALSE(testing_support::Exists(t / "nowhere"));
  // A file made read-only by a mode of 0444 from outside.
  WriteFile(t / "ro", "keep", 0444);
  EXPECT_EQ(CreateFileForWriting(t / "ro", 0644), kNoFile);

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
