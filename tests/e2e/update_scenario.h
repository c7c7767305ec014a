// The scene of an update check: one player's launcher and a service of the
// test's own on the built-in loopback host (the configuration, the manifest
// and its signature, the two packages made with zip, the launch report).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "launcher_run.h"
#include "support/peers.h"

namespace update_e2e {

using namespace launcher_e2e;
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

inline std::string Manifest(const std::string& versionLine, const std::string& base = Base()) {
  return "[update]\n" + versionLine + "\nGameUrl=" + base + "/game.zip\nupdateUrl=" + base + "/update.zip\n";
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

inline std::string Sha256Sum(const std::string& file) {
  const ProcessResult p = RunProcess({"sha256sum", file});
  EXPECT_EQ(p.status, 0) << p.err;
  return p.out.substr(0, 64);
}

inline std::string FileSize(const std::string& file) { return std::to_string(std::filesystem::file_size(file)); }

// The manifest of an update whose packages are these files; hashes and
// sizes unless told otherwise, then the extra lines.
inline std::string SignedManifest(const std::string& updateZip, const std::string& gameZip,
                                  const std::string& extra = "", bool hashes = true) {
  std::string m = Manifest("versionNum=2");
  if (hashes) {
    m += "GameSha256=" + Sha256Sum(gameZip) + "\nGameSize=" + FileSize(gameZip) + "\nupdateSha256=" +
         Sha256Sum(updateZip) + "\nupdateSize=" + FileSize(updateZip) + "\n";
  }
  return m + extra;
}

// The signature that minisign writes for text with the secret key.
inline std::string Sign(const std::string& dir, const std::string& text, const std::string& secretKey,
                        const std::vector<std::string>& extra = {}) {
  const std::string file = dir + "/signing/update.ini";
  WriteFile(file, text);
  std::vector<std::string> argv = {"minisign", "-S", "-s", secretKey, "-m", file};
  argv.insert(argv.end(), extra.begin(), extra.end());
  const ProcessResult p = RunProcess(argv);
  EXPECT_EQ(p.status, 0) << p.err;
  return ReadFile(file + ".minisig");
}

struct Service {
  std::optional<std::string> manifest = Manifest("versionNum=2");  // nullopt: 404
  std::optional<std::string> updateZip;                             // a file; nullopt: 404
  std::optional<std::string> gameZip;
  double manifestDelay = 0;
  std::optional<std::string> signature;  // update.ini.minisig; nullopt: 404
  // Manifest, signature and packages come over TLS from tlsPort, with a
  // certificate of this authority's, which the launcher trusts as its store.
  testing_support::TestAuthority* authority = nullptr;
  int tlsPort = 0;
  std::string userInfo;  // "user:password@" in each of the configuration's addresses
};

constexpr bool kUnverified = true;
constexpr bool kVerifying = false;

// One player's launcher and the service it talks to: by default a copy of
// the built one (with the built-in keys, or unverified: the one built
// without) named Launcher.exe; or the one at launcherExe (installed, say),
// which names itself launcherName.
class Scenario {
 public:
  explicit Scenario(bool unverified, std::string launcherName = "Launcher",
                    std::optional<std::string> launcherExe = std::nullopt)
      : m_bVerifying(!unverified),
        name(std::move(launcherName)),
        exe(launcherExe ? *launcherExe : r.Install(name + ".exe", unverified)) {}
  Scenario(const Scenario&) = delete;
  Scenario& operator=(const Scenario&) = delete;

 private:
  const bool m_bVerifying;

 public:
  LauncherRun r;
  const Target& target = r.target;
  const std::string name;
  const std::string dataDir = r.dataHome + "/" + name + "/";
  const std::string updaterLog = r.root / "updater.log";
  std::string exe;  // a test may point it elsewhere before it runs
  std::string configAnswer;  // the configuration service's answer, once served

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
    std::string update;
    if (s.manifest) update += ", \"/update.ini\": {\"body\": " + JsonString(*s.manifest) + ", \"delay\": " + std::to_string(s.manifestDelay) + "}";
    if (s.updateZip) update += ", \"/update.zip\": {\"file\": " + JsonString(*s.updateZip) + "}";
    if (s.gameZip) update += ", \"/game.zip\": {\"file\": " + JsonString(*s.gameZip) + "}";
    if (s.signature) update += ", \"/update.ini.minisig\": {\"body\": " + JsonString(*s.signature) + "}";
    std::string updateBase = Base();
    if (s.authority != nullptr) {
      const std::string server = s.authority->Issue("update-server", "IP:127.0.0.1");
      m_updateService.emplace("{" + update.substr(1) + "}", s.authority->Certificate(server), s.authority->Key(server),
                              s.tlsPort);
      updateBase = m_updateService->Url("");
      m_trusted = s.authority->ca();
      update.clear();
    }
    const auto withUser = [&s](std::string url) { return url.insert(url.find("://") + 3, s.userInfo); };
    configAnswer = "<config><url officialUrl=\"" + withUser(Base()) + "/play/\" updateUrl=\"" + withUser(updateBase) +
                   "/update.ini?t=\" AdobeFlashUrl=\"" + withUser(Base()) + "/dss/statvx/?k=1\"/></config>";
    m_service.emplace("{\"/api/\": {\"body\": " + JsonString(configAnswer) + "}, \"/dss/statvx/\": {\"body\": \"ok\"}" +
                          update + "}",
                      HostsPort());
  }

  // The path of its executable that the launcher finds: a path that is
  // already the program's own (C:\\...) stays as it is.
  std::string ModulePath() const { return exe[0] == '/' ? target.ModulePath(exe) : exe; }

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
  // time query of the manifest and its signature reads "?t=T".
  std::vector<std::string> Targets(bool raw = false, std::size_t from = 0) const {
    std::vector<std::string> out;
    if (!m_service) return out;
    const std::regex requestTarget(R"re("target": "([^"]*)")re"), manifest(R"(^(/update\.ini(\.minisig)?)\?t=-?[0-9]+$)");
    std::vector<std::string> requests = m_service->Requests();
    if (m_updateService) {
      // Between the configuration and the launch report.
      const std::vector<std::string> more = m_updateService->Requests();
      requests.insert(requests.begin() + std::min<std::size_t>(1, requests.size()), more.begin(), more.end());
    }
    for (std::size_t i = from; i < requests.size(); ++i) {
      const std::string& request = requests[i];
      std::smatch m;
      if (!std::regex_search(request, m, requestTarget)) continue;
      std::smatch timed;
      const std::string t = m[1].str();
      out.push_back(!raw && std::regex_match(t, timed, manifest) ? timed[1].str() + "?t=T" : t);
    }
    return out;
  }

  std::vector<std::string> Tree() const { return ListTree(dataDir); }

  // How many requests the service has had: Targets(false, n) shows only
  // those that come after them.
  std::size_t RequestCount() const { return m_service ? m_service->Requests().size() : 0; }

  // The updater got the parameter string, and nothing else happened.
  void ExpectHandOff(const std::string& what) {
    ASSERT_TRUE(WaitFor([&] { return Exists(updaterLog); }, 10s)) << what << ": the updater did not run";
    const std::string expected = ModulePath() + "*" + r.DataDirSeen(name) + "Game" + target.separator() + "*" + name;
    std::string record = "1\n" + expected + "\n" + target.Path(r.root.path()) + "\n";
    // A Windows program also sees the command line after its own name as
    // it came: the parameter string exactly, not quoted.
    if (target.wine()) record += expected + "\n";
    EXPECT_EQ(ReadFile(updaterLog), record) << what;
    const std::vector<std::string> targets =
        m_bVerifying ? std::vector<std::string>{"/api/", "/update.ini?t=T", "/update.ini.minisig?t=T", "/update.zip",
                                                "/game.zip"}
                     : std::vector<std::string>{"/api/", "/update.ini?t=T", "/update.zip", "/game.zip"};
    EXPECT_EQ(Targets(), targets) << what;
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

}  // namespace update_e2e
