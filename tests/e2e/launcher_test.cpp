// The built launcher, run as a user runs it: copied under some name, with
// its own home and a recording xdg-open first on PATH.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/support.h"

using namespace testing_support;

namespace {

// The port of the built-in hosts, which the tests serve themselves.
int HostsPort() {
  std::string url = TOLVANE_OFFICIAL_URL;
  return std::stoi(url.substr(url.rfind(':') + 1));
}

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
    // The launcher must talk to the loopback service itself, never via a proxy.
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      o.env[v] = std::nullopt;
    o.timeout = std::chrono::seconds(60);
    return RunProcess({exe}, o);
  }

  // How a user without HOME runs it from the root of the scratch tree.
  ProcessOptions Homeless() const {
    ProcessOptions o;
    o.cwd = root.path();
    o.env["HOME"] = std::nullopt;
    o.env["XDG_DATA_HOME"] = std::nullopt;
    o.env["PATH"] = bin + ":/usr/bin:/bin";
    o.env["TOLVANE_TEST_OPEN_LOG"] = openLog;
    return o;
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
  ProcessOptions o = r.Homeless();
  // Without HOME the password database's home is used: only when that is
  // unusable does the launcher end. Run under a user id with no entry.
  if (getuid() != 0) GTEST_SKIP() << "needs root to run under a user without a password entry";
  chmod(r.root.path().c_str(), 0755);
  ProcessResult p = RunProcess({"setpriv", "--reuid=54321", "--regid=54321", "--clear-groups", exe}, o);
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(ListTree(r.root.path()), before);
  EXPECT_FALSE(WaitFor([&] { return Exists(r.openLog); }, std::chrono::milliseconds(300)));
}

TEST(Launcher, PasswordEntryThatNamesTheRootTouchesNothing) {
  // A system user whose home is "/" (as systemd's are) and no HOME: the
  // data directory would land in /.local/share. The user comes from a
  // password file bound over /etc/passwd in a mount namespace of its own.
  if (getuid() != 0) GTEST_SKIP() << "needs root for a mount namespace and another user id";
  LauncherRun r;
  std::string exe = r.Install("Launcher");
  WriteFile(r.root / "passwd", "root:x:0:0:root:/root:/bin/sh\nrooted:x:54330:54330::/:/bin/sh\n");
  WriteFile(r.openLog, "", 0666);  // where an open would show, writable for that user
  chmod(r.root.path().c_str(), 0755);
  auto before = ListTree(r.root.path());
  ProcessResult p = RunProcess(
      {"unshare", "--mount", "sh", "-c",
       "mount --make-rprivate / && mount --bind \"$1\" /etc/passwd && "
       "exec setpriv --reuid=54330 --regid=54330 --clear-groups \"$2\"",
       "sh", r.root / "passwd", exe},
      r.Homeless());
  if (p.status != 0 && p.err.find("unshare") != std::string::npos) GTEST_SKIP() << p.err;
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(p.err, "");
  EXPECT_EQ(ListTree(r.root.path()), before);
  EXPECT_FALSE(Exists("/.local/share/Launcher"));
  EXPECT_FALSE(WaitFor([&] { return !ReadFile(r.openLog).empty(); }, std::chrono::milliseconds(300)));
}

TEST(Launcher, UsesTheConfigurationAndSendsTheLaunchReport) {
  HttpPeer service(R"({
    "/api/": {"body": "<config><url officialUrl=\"http%3A%2F%2F127.0.0.1%3A9%2Fofficial%2F\" updateUrl=\"\" AdobeFlashUrl=\"http://127.0.0.1:)" +
                       std::to_string(HostsPort()) + R"(/dss/statvx/?key_name=%E7%82%B9%E5%87%BB&amp;c2=Custom\"/></config>"},
    "/dss/statvx/": {"body": "ok"}})",
                   HostsPort());
  LauncherRun r;
  ProcessResult p = r.Run("Launcher.exe");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(r.Opened(), "http://127.0.0.1:9/official/\n");
  std::vector<std::string> requests = service.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find(R"("target": "/api/")"), std::string::npos) << requests[0];
  EXPECT_NE(requests[0].find(R"("User-Agent": "Launcher")"), std::string::npos) << requests[0];
  EXPECT_NE(requests[1].find(R"("decoded": "/dss/statvx/?key_name=点击&c2=Custom")"), std::string::npos) << requests[1];
}

TEST(Launcher, DefaultsWhenTheServiceAnswersNothingUsable) {
  HttpPeer service(R"({"/api/": {"status": 503, "body": "busy"}, "/dss/statvx/": {"body": "ok"}})", HostsPort());
  LauncherRun r;
  ProcessResult p = r.Run("Launcher");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(r.Opened(), std::string(TOLVANE_OFFICIAL_URL) + "\n");
  std::vector<std::string> requests = service.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[1].find(R"("decoded": "/dss/statvx/?key_name=点击上报&c2=Quillane&c3=Quillane&d=game&t=2&v=1427160330")"),
            std::string::npos)
      << requests[1];
}

TEST(Launcher, ServiceDownStillEndsPromptlyWithTheDefaults) {
  LauncherRun r;
  auto t0 = std::chrono::steady_clock::now();
  ProcessResult p = r.Run("Launcher");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(r.Opened(), std::string(TOLVANE_OFFICIAL_URL) + "\n");
}
