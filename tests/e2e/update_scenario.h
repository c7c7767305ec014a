// The update road's service for the end-to-end tests: the configuration,
// the manifest, the two packages (made with zip) and the launch report on
// the built-in loopback host, and one player's launcher that asks it.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>

#include "launcher_run.h"

namespace launcher_e2e {
using namespace std::chrono_literals;

inline std::string Base() { return "http://127.0.0.1:" + std::to_string(HostsPort()); }

struct PackageFile {
  std::string path;
  std::string data;
  unsigned mode = 0644;
};
using Package = std::vector<PackageFile>;

// Records its argument count, the argument and its current directory.
inline const char kUpdaterScript[] =
    "#!/bin/sh\n"
    "printf '%s\\n%s\\n%s\\n' \"$#\" \"$1\" \"$(pwd)\" > \"$TOLVANE_TEST_UPDATER_LOG.tmp\"\n"
    "mv \"$TOLVANE_TEST_UPDATER_LOG.tmp\" \"$TOLVANE_TEST_UPDATER_LOG\"\n";

// The updater that a package brings: under Wine a Windows program that
// records the same (update_standin_win.cpp).
inline std::string Updater() {
  const Target& target = Target::Current();
  return target.wine() ? ReadFile(target.Program("TOLVANE_E2E_UPDATER", "")) : kUpdaterScript;
}

inline const Package kGame = {{"Setup.exe", "new launcher", 0755}, {"data/level1.dat", "level"}};
inline Package UpdatePackage() { return {{"update.exe", Updater(), 0755}, {"readme.txt", "updater"}}; }

inline std::string Manifest(const std::string& versionLine) {
  return "[update]\n" + versionLine + "\nGameUrl=" + Base() + "/game.zip\nupdateUrl=" + Base() + "/update.zip\n";
}

inline std::string JsonString(const std::string& s) {
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
};

// One player's launcher and the service it talks to: by default a copy of
// the built one named Launcher.exe; or the one at launcherExe (installed,
// say), which names itself launcherName.
class Scenario {
 public:
  LauncherRun r;
  const Target& target = r.target;
  const std::string name;
  const std::string dataDir = r.dataHome + "/" + name + "/";
  const std::string updaterLog = r.root / "updater.log";
  std::string exe;  // a test may point it elsewhere before it runs

  explicit Scenario(std::string launcherName = "Launcher", std::optional<std::string> launcherExe = std::nullopt)
      : name(std::move(launcherName)), exe(launcherExe ? *launcherExe : r.Install(name + ".exe")) {}
  Scenario(const Scenario&) = delete;
  Scenario& operator=(const Scenario&) = delete;

  // A package made by zip from the files.
  std::string Zip(const std::string& package, const Package& files) {
    const std::string stage = r.root / ("packages/" + package);
    std::filesystem::create_directories(stage);
    for (const PackageFile& f : files) {
      if (f.path.back() == '/') std::filesystem::create_directories(stage + "/" + f.path);
      else WriteFile(stage + "/" + f.path, f.data, f.mode);
    }
    const std::string zip = r.root / ("packages/" + package + ".zip");
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
    std::string routes = "{\"/api/\": {\"body\": " +
                         JsonString("<config><url officialUrl=\"" + Base() + "/play/\" updateUrl=\"" + Base() +
                                    "/update.ini?t=\" AdobeFlashUrl=\"" + Base() + "/dss/statvx/?k=1\"/></config>") +
                         "}, \"/dss/statvx/\": {\"body\": \"ok\"}";
    if (s.manifest) routes += ", \"/update.ini\": {\"body\": " + JsonString(*s.manifest) + ", \"delay\": " + std::to_string(s.manifestDelay) + "}";
    if (s.updateZip) routes += ", \"/update.zip\": {\"file\": " + JsonString(*s.updateZip) + "}";
    if (s.gameZip) routes += ", \"/game.zip\": {\"file\": " + JsonString(*s.gameZip) + "}";
    m_service.emplace(routes + "}", HostsPort());
  }

  // The path of its executable that the launcher finds: a path that is
  // already the program's own (C:\\...) stays as it is.
  std::string ModulePath() const { return exe[0] == '/' ? target.ModulePath(exe) : exe; }

  ProcessResult Run() {
    ProcessOptions o = r.Options();
    o.env["TOLVANE_TEST_UPDATER_LOG"] = target.Path(updaterLog);
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
    for (const std::string& request : m_service->Requests()) {
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
        ModulePath() + "*" + r.DataDirSeen(name) + "Game" + target.separator() + "*" + name;
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
};

}  // namespace launcher_e2e
