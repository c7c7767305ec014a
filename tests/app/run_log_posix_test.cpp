#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "app/run_log.h"
#include "support/support.h"

using testing_support::ListTree;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(RunLog, AFullDiskKeepsTheLogsThatAreThere) {
  // A file-size limit stands in for a full disk: the new log cannot be
  // written whole, and a part of it must not take the place of either log.
  TempDir t;
  WriteFile(t / "last-run.log", "previous\n");
  WriteFile(t / "last-run.log.1", "before that\n");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{512, 512};
    setrlimit(RLIMIT_FSIZE, &limit);
    RunLog log;
    for (int i = 0; i < 10; ++i) log.Add(std::string(100, 'x'));
    _exit(log.Save(t / "last-run.log") ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save must report its failure";
  EXPECT_EQ(ListTree(t.path()), (std::vector<std::string>{"last-run.log", "last-run.log.1"}));
  EXPECT_EQ(ReadFile(t / "last-run.log"), "previous\n");
  EXPECT_EQ(ReadFile(t / "last-run.log.1"), "before that\n");
}
