// Directories, pipes and FIFOs open as sources on Linux, but none is a disk
// file: nothing can be positioned in them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/zip_archive.h"
#include "support/support.h"
#include "zip_fixtures.h"

using namespace zip_fixtures;
using testing_support::TempDir;

TEST(ZipArchive, SourcesThatAreNoDiskFiles) {
  // A pipe.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  Archive a;
  a.entries = {{.name = "big.txt", .data = std::string(10000, 'x')}};
  const std::string bytes = Build(a).bytes;
  ASSERT_EQ(write(fds[1], bytes.data(), 4096), 4096);
  ZipSource* s = OpenSource(("/proc/self/fd/" + std::to_string(fds[0])).c_str());
  ASSERT_NE(s, nullptr);
  EXPECT_FALSE(s->m_bSeekable);
  int rc = 0;
  EXPECT_EQ(OpenArchive(s, &rc), nullptr);
  EXPECT_EQ(rc, ZA_IOERR);
  close(fds[0]);
  close(fds[1]);

  // A FIFO that nobody writes: opening it must not wait for one.
  TempDir t;
  ASSERT_EQ(mkfifo((t / "fifo").c_str(), 0644), 0);
  s = OpenSource((t / "fifo").c_str());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(OpenArchive(s, &rc), nullptr);
  EXPECT_EQ(rc, ZA_IOERR);

  // A directory.
  s = OpenSource(t.path().c_str());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(OpenArchive(s, &rc), nullptr);
  EXPECT_EQ(rc, ZA_IOERR);
}
