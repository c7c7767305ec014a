// The built launcher, run as a user runs it: copied under some name, with
// its own home and a recording xdg-open first on PATH.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/support.h"

using namespace testing_support;

namespace {

struct LauncherRun {
  TempDir root;
  std::string bin = root / "bin";
  std::string home = root / "home";
  std::string dataHome = root / "home/xdg-data";
  std::string openLog = root / "xdg-open.log";

  LauncherRun() {
    WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$TOLVANE_TEST_OPEN_LOG\"\n", 0755);
    WriteFile(home + "/.profile", "keep");
    std::filesystem::create_directories(dataHome);
  }

  std::string Install(const std::string& exeName) {
    std::string exe = root / exeName;
    std::filesystem::copy_file(TOLVANE_BIN, exe, std::filesystem::copy_options::overwrite_existing);
    return exe;
  }

  ProcessResult Run(const std::string& exeName) {
    std::string exe = Install(exeName);
    ProcessOptions o;
    o.cwd = root.path();
    o.env["HOME"] = home;
    o.env["XDG_DATA_HOME"] = dataHome;
    o.env["PATH"] = bin + ":/usr/bin:/bin";
    o.env["TOLVANE_TEST_OPEN_LOG"] = openLog;
    o.env["http_proxy"] = std::nullopt;  // the URL opener must talk to loopback itself
    o.env["HTTP_PROXY"] = std::nullopt;
    o.timeout = std::chrono::seconds(60);
    return RunProcess({exe}, o);
  }

  // What the recording xdg-open received; waits for it (it runs detached).
  std::string Opened() {
    WaitFor([&] { return ReadFile(openLog).find('\n') != std::string::npos; });
    return ReadFile(openLog);
  }
};

}  // namespace

TEST(Launcher, NameWithExtensionMakesDataDirectoryAndOpensSite) {
  LauncherRun r;
  ProcessResult p = r.Run("My.Launcher.exe");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(p.err, "");
  EXPECT_TRUE(IsDir(r.dataHome + "/My.Launcher"));
  EXPECT_EQ(r.Opened(), std::string(TOLVANE_OFFICIAL_URL) + "\n");
}

TEST(Launcher, NameWithoutDot) {
  LauncherRun r;
  ProcessResult p = r.Run("Launcher");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_TRUE(IsDir(r.dataHome + "/Launcher"));
  EXPECT_EQ(r.Opened(), std::string(TOLVANE_OFFICIAL_URL) + "\n");
}

TEST(Launcher, UnusableNameTouchesNothing) {
  for (const char* name : {".exe", "..exe", "...exe"}) {
    LauncherRun r;
    WriteFile(r.dataHome + "/other/keep.txt", "keep");
    r.Install(name);
    auto before = ListTree(r.root.path());
    ProcessResult p = r.Run(name);
    EXPECT_EQ(p.status, 0) << name << p.err;
    auto after = ListTree(r.root.path());
    EXPECT_EQ(after, before) << name;
    EXPECT_EQ(ReadFile(r.dataHome + "/other/keep.txt"), "keep") << name;
    // It ends before the shell's open: give a stray xdg-open time to show.
    EXPECT_FALSE(WaitFor([&] { return Exists(r.openLog); }, std::chrono::milliseconds(300))) << name;
  }
}

TEST(Launcher, NoHomeAtAllTouchesNothing) {
  LauncherRun r;
  std::string exe = r.Install("Launcher");
  auto before = ListTree(r.root.path());
  ProcessOptions o;
  o.cwd = r.root.path();
  o.env["HOME"] = std::nullopt;
  o.env["XDG_DATA_HOME"] = std::nullopt;
  o.env["PATH"] = r.bin + ":/usr/bin:/bin";
  o.env["TOLVANE_TEST_OPEN_LOG"] = r.openLog;
  // Without HOME the password database's home is used: only when that is
  // unusable does the launcher end. Run under a user id with no entry.
  if (getuid() != 0) GTEST_SKIP() << "needs root to run under a user without a password entry";
  chmod(r.root.path().c_str(), 0755);
  ProcessResult p = RunProcess({"setpriv", "--reuid=54321", "--regid=54321", "--clear-groups", exe}, o);
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(ListTree(r.root.path()), before);
  EXPECT_FALSE(WaitFor([&] { return Exists(r.openLog); }, std::chrono::milliseconds(300)));
}
