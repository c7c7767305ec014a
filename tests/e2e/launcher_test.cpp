// The start-up sequence of the built launcher, without an update.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "launcher_run.h"

using namespace launcher_e2e;

TEST(Launcher, NameWithExtensionMakesDataDirectoryAndOpensSite) {
  LauncherRun r;
  ProcessResult p = r.Run("My.Launcher.exe");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(p.out, "");
  EXPECT_EQ(p.err, "");
  EXPECT_TRUE(IsDir(r.dataHome + "/My.Launcher"));
  EXPECT_EQ(r.Opened(), r.Site(TOLVANE_OFFICIAL_URL));
}

TEST(Launcher, NameWithoutDot) {
  LauncherRun r;
  ProcessResult p = r.Run("Launcher");
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_TRUE(IsDir(r.dataHome + "/Launcher"));
  EXPECT_EQ(r.Opened(), r.Site(TOLVANE_OFFICIAL_URL));
}

TEST(Launcher, UnusableNameTouchesNothing) {
  for (const char* name : {".exe", "..exe", "...exe"}) {
    LauncherRun r;
    WriteFile(r.dataHome + "/other/keep.txt", "keep");
    r.Install(name);
    auto before = r.Trees();
    ProcessResult p = r.Run(name);
    EXPECT_EQ(p.status, 0) << name << p.err;
    EXPECT_EQ(r.Trees(), before) << name;
    EXPECT_EQ(ReadFile(r.dataHome + "/other/keep.txt"), "keep") << name;
    EXPECT_TRUE(r.NothingOpened()) << name;
  }
}

TEST(Launcher, NoHomeAtAllTouchesNothing) {
  E2E_POSIX_ONLY("HOME and the password database");
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
  EXPECT_TRUE(r.NothingOpened());
}

TEST(Launcher, PasswordEntryThatNamesTheRootTouchesNothing) {
  // A system user whose home is "/" (as systemd's are) and no HOME: the
  // data directory would land in /.local/share. The user comes from a
  // password file bound over /etc/passwd in a mount namespace of its own.
  E2E_POSIX_ONLY("HOME and the password database");
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
  EXPECT_EQ(r.Opened(), r.Site(TOLVANE_OFFICIAL_URL));
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
  EXPECT_EQ(r.Opened(), r.Site(TOLVANE_OFFICIAL_URL));
}

TEST(Launcher, OpensNoAddressButAWebAddress) {
  // The site's address comes from the service's answer: whoever answers in
  // its place must not have the desktop open a file or read an option.
  for (const char* official : {"file%3A%2F%2F%2Fetc%2Fpasswd", "--help", "smb%3A%2F%2F127.0.0.1%2Fs"}) {
    HttpPeer service(std::string(R"({"/api/": {"body": "<config><url officialUrl=\")") + official +
                         R"(\" updateUrl=\"\"/></config>"}})",
                     HostsPort());
    LauncherRun r;
    ProcessResult p = r.Run("Launcher");
    EXPECT_EQ(p.status, 0) << official << p.err;
    EXPECT_TRUE(r.NothingOpened()) << official;
  }
}
