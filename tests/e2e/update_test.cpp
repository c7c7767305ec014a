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

#include "update_scenario.h"

using namespace launcher_e2e;
using namespace std::chrono_literals;

namespace {

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
