// The update check of the built launcher against a service of the test's
// own on the built-in loopback host: the configuration, the manifest, the
// two packages (made with zip) and the launch report.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <thread>

#include "launcher_run.h"
#include "support/peers.h"

using namespace launcher_e2e;
using namespace std::chrono_literals;

namespace {

std::string Base() { return "http://127.0.0.1:" + std::to_string(HostsPort()); }

struct PackageFile {
  std::string path;
  std::string data;
  unsigned mode = 0644;
};
using Package = std::vector<PackageFile>;

// Records its argument count, the argument and its current directory.
const char kUpdaterScript[] =
    "#!/bin/sh\n"
    "printf '%s\\n%s\\n%s\\n' \"$#\" \"$1\" \"$(pwd)\" > \"$TOLVANE_TEST_UPDATER_LOG.tmp\"\n"
    "mv \"$TOLVANE_TEST_UPDATER_LOG.tmp\" \"$TOLVANE_TEST_UPDATER_LOG\"\n";

// The updater that a package brings: under Wine a Windows program that
// records the same (update_standin_win.cpp).
std::string Updater() {
  const Target& target = Target::Current();
  return target.wine() ? ReadFile(target.Program("TOLVANE_E2E_UPDATER", "")) : kUpdaterScript;
}

const Package kGame = {{"Setup.exe", "new launcher", 0755}, {"data/level1.dat", "level"}};
Package UpdatePackage() { return {{"update.exe", Updater(), 0755}, {"readme.txt", "updater"}}; }

std::string Manifest(const std::string& versionLine, const std::string& base = Base()) {
  return "[update]\n" + versionLine + "\nGameUrl=" + base + "/game.zip\nupdateUrl=" + base + "/update.zip\n";
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    char escaped[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

struct Service {
  std::optional<std::string> manifest = Manifest("versionNum=2");  // nullopt: 404
  std::optional<std::string> updateZip;                             // a file; nullopt: 404
  std::optional<std::string> gameZip;
  double manifestDelay = 0;
  // Manifest and packages come over TLS, from a server with a certificate
  // of this authority's, which the launcher trusts as its store.
  testing_support::TestAuthority* authority = nullptr;
  int tlsPort = 0;
};

// One player's launcher, Launcher.exe, and the service it talks to.
class Scenario {
 public:
  LauncherRun r;
  const Target& target = r.target;
  const std::string dataDir = r.dataHome + "/Launcher/";
  const std::string updaterLog = r.root / "updater.log";
  const std::string exe = r.Install("Launcher.exe");

  // A package made by zip from the files.
  std::string Zip(const std::string& name, const Package& files) {
    const std::string stage = r.root / ("packages/" + name);
    std::filesystem::create_directories(stage);
    for (const PackageFile& f : files) {
      if (f.path.back() == '/') std::filesystem::create_directories(stage + "/" + f.path);
      else WriteFile(stage + "/" + f.path, f.data, f.mode);
    }
    const std::string zip = r.root / ("packages/" + name + ".zip");
    ProcessOptions o;
    o.cwd = stage;
    ProcessResult p = RunProcess({"zip", "-q", "-r", zip, "."}, o);
    EXPECT_EQ(p.status, 0) << p.err;
    return zip;
  }

  // The default packages unless the service names others.
  void Serve(Service s) {
    if (!s.updateZip) s.updateZip = Zip("update", UpdatePackage());
    if (!s.gameZip) s.gameZip = Zip("game", kGame);
    ServeAsGiven(s);
  }
  // The packages as given: a missing one is a 404.
  void ServeAsGiven(const Service& s) {
    std::string update;
    if (s.manifest) update += ", \"/update.ini\": {\"body\": " + JsonString(*s.manifest) + ", \"delay\": " + std::to_string(s.manifestDelay) + "}";
    if (s.updateZip) update += ", \"/update.zip\": {\"file\": " + JsonString(*s.updateZip) + "}";
    if (s.gameZip) update += ", \"/game.zip\": {\"file\": " + JsonString(*s.gameZip) + "}";
    std::string updateBase = Base();
    if (s.authority != nullptr) {
      const std::string name = s.authority->Issue("update-server", "IP:127.0.0.1");
      m_updateService.emplace("{" + update.substr(1) + "}", s.authority->Certificate(name), s.authority->Key(name),
                              s.tlsPort);
      updateBase = m_updateService->Url("");
      m_trusted = s.authority->ca();
      update.clear();
    }
    m_service.emplace("{\"/api/\": {\"body\": " +
                          JsonString("<config><url officialUrl=\"" + Base() + "/play/\" updateUrl=\"" + updateBase +
                                     "/update.ini?t=\" AdobeFlashUrl=\"" + Base() + "/dss/statvx/?k=1\"/></config>") +
                          "}, \"/dss/statvx/\": {\"body\": \"ok\"}" + update + "}",
                      HostsPort());
  }

  ProcessResult Run() {
    ProcessOptions o = r.Options();
    o.env["TOLVANE_TEST_UPDATER_LOG"] = target.Path(updaterLog);
    if (!m_trusted.empty()) o.env["SSL_CERT_FILE"] = m_trusted;
    ProcessResult p = target.Run(exe, {}, o);
    EXPECT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.out + p.err, "");
    return p;
  }

  // The request targets the service received, in order; unless raw, the
  // manifest's time query reads "?t=T".
  std::vector<std::string> Targets(bool raw = false) const {
    std::vector<std::string> out;
    if (!m_service) return out;
    const std::regex requestTarget(R"re("target": "([^"]*)")re"), manifest(R"(^/update\.ini\?t=-?[0-9]+$)");
    std::vector<std::string> requests = m_service->Requests();
    if (m_updateService) {
      const std::vector<std::string> more = m_updateService->Requests();
      requests.insert(requests.begin() + 1, more.begin(), more.end());
    }
    for (const std::string& request : requests) {
      std::smatch m;
      if (!std::regex_search(request, m, requestTarget)) continue;
      out.push_back(!raw && std::regex_match(m[1].str(), manifest) ? "/update.ini?t=T" : m[1].str());
    }
    return out;
  }

  std::vector<std::string> Tree() const { return ListTree(dataDir); }

  // The updater got the parameter string, and nothing else happened.
  void ExpectHandOff(const std::string& what) {
    ASSERT_TRUE(WaitFor([&] { return Exists(updaterLog); }, 10s)) << what << ": the updater did not run";
    const std::string expected =
        target.ModulePath(exe) + "*" + r.DataDirSeen("Launcher") + "Game" + target.separator() + "*Launcher";
    std::string record = "1\n" + expected + "\n" + target.Path(r.root.path()) + "\n";
    // A Windows program also sees the command line after its own name as
    // it came: the parameter string exactly, not quoted.
    if (target.wine()) record += expected + "\n";
    EXPECT_EQ(ReadFile(updaterLog), record) << what;
    EXPECT_EQ(Targets(), (std::vector<std::string>{"/api/", "/update.ini?t=T", "/update.zip", "/game.zip"})) << what;
    EXPECT_TRUE(r.NothingOpened()) << what;
  }

  // The launch report and the site, as when no update is due.
  void ExpectNoUpdate(const std::string& what, std::vector<std::string> targets) {
    EXPECT_EQ(r.Opened(), Base() + "/play/\n") << what;
    targets.push_back("/dss/statvx/?k=1");
    EXPECT_EQ(Targets(), targets) << what;
    EXPECT_FALSE(Exists(updaterLog)) << what;
  }

 private:
  std::optional<HttpPeer> m_service;
  std::optional<HttpPeer> m_updateService;
  std::string m_trusted;
};

const std::vector<std::string> kUntilManifest = {"/api/", "/update.ini?t=T"};
const std::vector<std::string> kAllFour = {"/api/", "/update.ini?t=T", "/update.zip", "/game.zip"};

}  // namespace

TEST(Update, VersionTwoHandsOffToTheUpdater) {
  Scenario s;
  s.Serve(Service{});
  const std::int32_t before = static_cast<std::int32_t>(static_cast<std::uint32_t>(std::time(nullptr)));
  s.Run();
  s.ExpectHandOff("versionNum=2");
  EXPECT_EQ(s.Tree(), (std::vector<std::string>{"Game/", "Game/Launcher.exe", "Game/data/", "Game/data/level1.dat",
                                                "Update/", "Update/readme.txt", "Update/update.exe", "downZip/",
                                                "downZip/Game", "downZip/update", "update.ini"}));
  EXPECT_EQ(ReadFile(s.dataDir + "Game/Launcher.exe"), "new launcher");
  EXPECT_EQ(ReadFile(s.dataDir + "update.ini"), Manifest("versionNum=2"));
  // The manifest address is the update address and the time's low 32
  // bits, signed, with nothing between them.
  const std::int32_t after = static_cast<std::int32_t>(static_cast<std::uint32_t>(std::time(nullptr)));
  const std::vector<std::string> raw = s.Targets(true);
  ASSERT_GE(raw.size(), 2u);
  const long t = std::stol(raw[1].substr(raw[1].find("?t=") + 3));
  EXPECT_TRUE(before <= t && t <= after) << raw[1];
}

TEST(Update, OverTls) {
  E2E_POSIX_ONLY("the test's authority is trusted as the store through SSL_CERT_FILE, which OpenSSL reads");
  testing_support::TestAuthority authority;
  Scenario s;
  Service service;
  service.authority = &authority;
  service.tlsPort = testing_support::UnusedLoopbackPort();
  service.manifest = Manifest("versionNum=2", "https://127.0.0.1:" + std::to_string(service.tlsPort));
  s.Serve(service);
  s.Run();
  s.ExpectHandOff("over TLS");
}

TEST(Update, WhatTheManifestSays) {
  const std::string game = "GameUrl=" + Base() + "/game.zip", update = "updateUrl=" + Base() + "/update.zip";
  struct Case {
    const char* what;
    std::string manifest;
    bool handOff;
  } cases[] = {
      {"1", Manifest("versionNum=1"), false},
      {"0", Manifest("versionNum=0"), false},
      {"-3", Manifest("versionNum=-3"), false},
      {"abc", Manifest("versionNum=abc"), false},
      {"empty", Manifest("versionNum="), false},
      {"missing", Manifest(""), false},
      {"in another section", "[other]\nversionNum=2\n" + game + "\n" + update + "\n[update]\n", false},
      {"leading blanks", Manifest("versionNum=  7"), true},
      {"3x", Manifest("versionNum=3x"), true},
      {"names in other case", "[UPDATE]\nVERSIONNUM=2\ngameurl=" + Base() + "/game.zip\nUPDATEURL=" + Base() + "/update.zip\n", true},
      {"CRLF", "[update]\r\nversionNum=2\r\n" + game + "\r\n" + update + "\r\n", true},
      {"quoted values", "[update]\nversionNum=\"2\"\nGameUrl = \"" + Base() + "/game.zip\"\nupdateUrl='" + Base() + "/update.zip'\n", true},
      {"byte-order mark", "\xEF\xBB\xBF" + Manifest("versionNum=2"), true},
  };
  for (const Case& c : cases) {
    Scenario s;
    Service service;
    service.manifest = c.manifest;
    s.Serve(service);
    s.Run();
    if (c.handOff) s.ExpectHandOff(c.what);
    else s.ExpectNoUpdate(c.what, kUntilManifest);
  }
}

TEST(Update, ManifestNotFound) {
  Scenario s;
  Service service;
  service.manifest.reset();
  s.Serve(service);
  s.Run();
  s.ExpectNoUpdate("404", kUntilManifest);
  EXPECT_TRUE(s.Tree().empty());
}

TEST(Update, PackageNotFoundAndTheUpdatePackageFirst) {
  {
    Scenario s;
    s.ServeAsGiven({.gameZip = s.Zip("game", kGame)});  // no update package
    s.Run();
    s.ExpectNoUpdate("update package missing", {"/api/", "/update.ini?t=T", "/update.zip"});
    EXPECT_EQ(s.Tree(), (std::vector<std::string>{"update.ini"}));
  }
  {
    Scenario s;
    s.ServeAsGiven({.updateZip = s.Zip("update", UpdatePackage())});  // no game package
    s.Run();
    s.ExpectNoUpdate("game package missing", kAllFour);
    // The package fetched before stays.
    EXPECT_EQ(s.Tree(), (std::vector<std::string>{"downZip/", "downZip/update", "update.ini"}));
  }
}

TEST(Update, NoHandOffWithoutAnUpdaterAndAGameExecutable) {
  struct Case {
    const char* what;
    Package update;
    Package game;
    std::vector<std::string> gameDir;  // the top of Game/ afterwards
    bool posixOnly = false;            // Windows has no execute permission
  } cases[] = {
      {"no update.exe", {{"readme.txt", "x"}}, kGame, {"Launcher.exe", "data/"}},
      {"update.exe below the top", {{"bin/update.exe", Updater(), 0755}}, kGame, {"Launcher.exe", "data/"}},
      {"update.exe without execute permission", {{"update.exe", Updater(), 0644}}, kGame, {"Launcher.exe", "data/"}, true},
      {"update.exe that is no program", {{"update.exe", "not a program\n", 0755}}, kGame, {"Launcher.exe", "data/"}},
      {"update.exe a directory", {{"update.exe/", ""}, {"x", ""}}, kGame, {"Launcher.exe", "data/"}},
      {"no executable in the game", UpdatePackage(), {{"data/level1.dat", "level"}, {"Setup.txt", "x"}}, {"Setup.txt", "data/"}},
      {"the game's executable below the top", UpdatePackage(), {{"bin/Setup.exe", "x", 0755}}, {"bin/"}},
      {"only a directory named .exe", UpdatePackage(), {{"Setup.exe/readme", "x"}}, {"Setup.exe/"}},
  };
  for (const Case& c : cases) {
    if (c.posixOnly && Target::Current().wine()) continue;
    Scenario s;
    s.ServeAsGiven({.updateZip = s.Zip("update", c.update), .gameZip = s.Zip("game", c.game)});
    s.Run();
    s.ExpectNoUpdate(c.what, kAllFour);
    // The unpacked files stay.
    std::vector<std::string> top;
    for (const std::string& e : ListTree(s.dataDir + "Game")) {
      if (e.find('/') == std::string::npos || e.find('/') == e.size() - 1) top.push_back(e);
    }
    EXPECT_EQ(top, c.gameDir) << c.what;
    EXPECT_TRUE(Exists(s.dataDir + "Update")) << c.what;
  }
}

TEST(Update, CorruptPackages) {
  for (const char* which : {"update", "game"}) {
    Scenario s;
    const std::string broken = s.r.root / "broken.zip";
    WriteFile(broken, std::string("PK\x03\x04 this is no zip archive", 28));
    Service service;
    (std::string(which) == "game" ? service.gameZip : service.updateZip) = broken;
    s.Serve(service);
    s.Run();
    s.ExpectNoUpdate(which, kAllFour);
  }
}

TEST(Update, FirstExecutableByNameGetsTheNameWithoutReplacingAnything) {
  struct Case {
    const char* what;
    Package game;
    std::vector<std::string> gameDir;  // afterwards
    std::string launcher;              // Game/Launcher.exe afterwards
    bool posixOnly = false;            // Windows does not tell the names apart
  } cases[] = {
      {"two executables", {{"b.exe", "b", 0755}, {"a.exe", "a", 0755}}, {"Launcher.exe", "b.exe"}, "a"},
      {"names in other case", {{"b.exe", "b", 0755}, {"B.exe", "B", 0755}}, {"Launcher.exe", "b.exe"}, "B", true},
      {"upper-case extension", {{"SETUP.EXE", "s", 0755}}, {"Launcher.exe"}, "s"},
      {"already the name", {{"Launcher.exe", "L", 0755}}, {"Launcher.exe"}, "L"},
      {"the name taken by a later one", {{"A.exe", "A", 0755}, {"Launcher.exe", "L", 0755}}, {"A.exe", "Launcher.exe"}, "L"},
      {"a directory first", {{"A.exe/x", "x"}, {"b.exe", "b", 0755}}, {"A.exe/", "A.exe/x", "Launcher.exe"}, "b"},
  };
  for (const Case& c : cases) {
    if (c.posixOnly && Target::Current().wine()) continue;
    Scenario s;
    s.ServeAsGiven({.updateZip = s.Zip("update", UpdatePackage()), .gameZip = s.Zip("game", c.game)});
    s.Run();
    s.ExpectHandOff(c.what);
    EXPECT_EQ(ListTree(s.dataDir + "Game"), c.gameDir) << c.what;
    EXPECT_EQ(ReadFile(s.dataDir + "Game/Launcher.exe"), c.launcher) << c.what;
  }
}

TEST(Update, StaleFilesOfAnEarlierRunGoFirst) {
  // An earlier run left an updater and a launcher that would do for a
  // hand-off; this run's packages hold neither, so a hand-off would show
  // that the old ones were used. Under Wine a file without write permission
  // shows as read-only: the read-only attribute is cleared before the delete.
  Scenario s;
  const std::string d = s.dataDir;
  WriteFile(d + "update.ini", Manifest("versionNum=9"), 0444);
  WriteFile(d + "downZip/Game", "old", 0444);
  WriteFile(d + "downZip/update.down123", "old temporary");
  WriteFile(d + "Update/update.exe", Updater(), 0555);
  WriteFile(d + "Game/Launcher.exe", "old", 0555);
  WriteFile(d + "Game/deep/er/file", "old", 0444);
  chmod((d + "Game/deep").c_str(), 0555);
  // A symbolic link natively only: its Windows counterpart, a junction,
  // cannot be made from here.
  const bool link = !s.target.wine();
  if (link) symlink(s.r.home.c_str(), (d + "home-link").c_str());
  s.ServeAsGiven({.updateZip = s.Zip("update", {{"readme.txt", "new"}}), .gameZip = s.Zip("game", {{"level.dat", "new"}})});
  s.Run();
  s.ExpectNoUpdate("stale files", kAllFour);
  EXPECT_EQ(s.Tree(), (std::vector<std::string>{"Game/", "Game/level.dat", "Update/", "Update/readme.txt", "downZip/",
                                                "downZip/Game", "downZip/update", "update.ini"}));
  if (link) {
    EXPECT_EQ(ReadFile(s.r.home + "/.profile"), "keep");  // not followed through the link
  }
}

TEST(Update, GameTreesPastMaxPathGoAndCome) {
  // The data directory lies 50 to 80 bytes deep: a game tree of ordinary
  // depth goes past 260 bytes. An earlier game left a tree 600 bytes deep,
  // read-only; the new package holds a file 300 bytes deep.
  Scenario s;
  const std::string game = s.r.DataDirSeen("Launcher") + "Game" + s.target.separator();
  std::string old = "old";
  while (game.size() + old.size() + 8 < 600) old += "/" + std::string(100, 'o');
  WriteFile(s.dataDir + "Game/" + old + "/old.dat", "old", 0444);
  const std::string a(100, 'a');
  ASSERT_LT(game.size() + 101 + 4, 300u);
  const std::string deep = a + "/" + std::string(300 - game.size() - 101 - 4, 'b') + ".dat";
  ASSERT_LT(deep.size(), 260u);  // an item name holds less
  s.ServeAsGiven({.updateZip = s.Zip("update", UpdatePackage()),
                  .gameZip = s.Zip("game", {{"Setup.exe", "new launcher", 0755}, {deep, "deep", 0444}})});
  s.Run();
  s.ExpectHandOff("a deep game tree");
  EXPECT_FALSE(Exists(s.dataDir + "Game/old"));
  EXPECT_EQ(ReadFile(s.dataDir + "Game/" + deep), "deep");
  EXPECT_EQ(ListTree(s.dataDir + "Game"), (std::vector<std::string>{"Launcher.exe", a + "/", deep}));
}

TEST(Update, ConfigurationServiceDownMeansNoManifestAtAll) {
  Scenario s;  // nothing listens on the built-in hosts
  auto t0 = std::chrono::steady_clock::now();
  s.Run();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
  EXPECT_EQ(s.r.Opened(), s.r.Site(TOLVANE_OFFICIAL_URL));
  // The manifest address is the time alone, which is no URL: nothing is
  // downloaded, no temporary file made.
  EXPECT_TRUE(s.Tree().empty());
  EXPECT_FALSE(Exists(s.updaterLog));
}

TEST(Update, SecondLauncherSkipsItsCheckWhileTheFirstIsChecking) {
  Scenario s;
  Service service;
  service.manifest = Manifest("versionNum=1");
  service.manifestDelay = 2.0;  // within the receive limit of 3 s
  s.Serve(service);
  std::atomic<bool> firstDone{false};
  std::thread first([&] {
    s.Run();
    firstDone = true;
  });
  // The first one has emptied the data directory and waits for its manifest.
  ASSERT_TRUE(WaitFor([&] { return s.Targets().size() == 2; }, 10s));
  WriteFile(s.dataDir + "marker", "kept");
  auto t0 = std::chrono::steady_clock::now();
  s.Run();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1500ms);
  EXPECT_FALSE(firstDone);
  EXPECT_EQ(s.Targets(), (std::vector<std::string>{"/api/", "/update.ini?t=T", "/api/", "/dss/statvx/?k=1"}));
  EXPECT_EQ(s.r.Opened(), Base() + "/play/\n");
  EXPECT_EQ(ReadFile(s.dataDir + "marker"), "kept");  // the second one emptied nothing
  first.join();
  EXPECT_TRUE(WaitFor([&] { return ReadFile(s.r.openLog) == Base() + "/play/\n" + Base() + "/play/\n"; }));
  EXPECT_EQ(s.Targets().size(), 5u);
  EXPECT_EQ(s.Targets().back(), "/dss/statvx/?k=1");
  EXPECT_EQ(ReadFile(s.dataDir + "marker"), "kept");
}
