// A full disk, played by a file-size limit: a rule of the Linux build.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "download/download.h"
#include "download_cases.h"
#include "loopback.h"
#include "support/support.h"

using loopback::Responder;
using testing_support::ListTree;
using testing_support::ReadFile;
using testing_support::TempDir;
using namespace download_cases;

TEST(DownloadFile, FullDiskEndsWithinItsBound) {
  // A file-size limit stands in for a full disk: writes past it fail.
  const std::string body = Body(1 << 20);
  Responder server({Ok(body)});
  TempDir dir;
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64 * 1024, 64 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    Download d;
    d.session.m_nRetryMode = 2;
    _exit(d.session.DownloadFile(server.Url("/f").c_str(), (dir / "f").c_str()));
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), HD_FAILED);
  EXPECT_EQ(server.connections(), 1 + HD_MAX_BROKEN_ATTEMPTS);
  EXPECT_EQ(ListTree(dir.path()), std::vector<std::string>{"f.down"});
  EXPECT_LE(ReadFile(dir / "f.down").size(), 64u * 1024);
}
