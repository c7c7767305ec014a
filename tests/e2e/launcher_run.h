// The built launcher, run as a user runs it: copied under some name, with a
// user of its own (see e2e::UserProfile), its own runtime directory (for
// its named mutexes) and a recording xdg-open first on PATH (Wine's
// ShellExecuteA reaches it too).
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/support.h"
#include "target.h"

namespace launcher_e2e {

using namespace testing_support;
using e2e::Target;

// The port of the built-in hosts, which the tests serve themselves.
inline int HostsPort() {
  std::string url = TOLVANE_OFFICIAL_URL;
  return std::stoi(url.substr(url.rfind(':') + 1));
}

struct LauncherRun {
  const Target& target = Target::Current();
  TempDir root;
  std::string bin = root / "bin";
  std::string runtime = root / "run";
  std::string openLog = root / "xdg-open.log";
  e2e::UserProfile user{root.path()};
  std::string home = user.home();                  // natively only
  std::string dataHome = user.localAppData();      // where the data directories are
  std::string dataHomeSeen = user.localAppDataSeen();

  LauncherRun() {
    WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$TOLVANE_TEST_OPEN_LOG\"\n", 0755);
    if (!home.empty()) WriteFile(home + "/.profile", "keep");
    std::filesystem::create_directories(runtime);
    chmod(runtime.c_str(), 0700);
  }

  // The launcher of the build; unverified: the one built without update
  // keys, which verifies nothing (as every launcher before keys).
  std::string Install(const std::string& exeName, bool unverified = false) {
    std::string exe = root / exeName;
    const std::string program = unverified ? target.Program("TOLVANE_E2E_LAUNCHER_UNVERIFIED", TOLVANE_UNVERIFIED_BIN)
                                           : target.Program("TOLVANE_E2E_LAUNCHER", TOLVANE_BIN);
    std::filesystem::copy_file(program, exe, std::filesystem::copy_options::overwrite_existing);
    return exe;
  }

  // The data directory of the launcher named name, as it writes it.
  std::string DataDirSeen(const std::string& name) const {
    return dataHomeSeen + target.separator() + name + target.separator();
  }

  // The log of the last run of the launcher named name.
  std::string LastRunLog(const std::string& name) const {
    return target.wine() ? dataHome + "/" + name + "-last-run.log" : home + "/.local/state/" + name + "/last-run.log";
  }

  ProcessOptions Options() const {
    ProcessOptions o;
    o.cwd = root.path();
    o.env = user.env();
    o.env["XDG_RUNTIME_DIR"] = runtime;
    o.env["PATH"] = bin + ":/usr/bin:/bin";
    o.env["TOLVANE_TEST_OPEN_LOG"] = openLog;
    // The launcher must talk to the loopback service itself, never via a proxy.
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      o.env[v] = std::nullopt;
    o.timeout = std::chrono::seconds(60);
    return o;
  }

  ProcessResult Run(const std::string& exeName) { return target.Run(Install(exeName), {}, Options()); }

  // Every path of the scratch tree and of the local application data
  // folder (which is outside it under Wine). Windows' own folder there is
  // not the launcher's: a fresh Wine profile gets it when a program loads
  // WinINet (its cache), where a real profile has it already.
  std::vector<std::string> Trees() const {
    std::vector<std::string> all = ListTree(root.path());
    if (dataHome.rfind(root.path() + "/", 0) != 0) {
      for (const std::string& p : ListTree(dataHome)) {
        if (!target.wine() || p.rfind("Microsoft/", 0) != 0) all.push_back("<local app data>/" + p);
      }
    }
    return all;
  }

  // How a user without HOME runs it from the root of the scratch tree.
  ProcessOptions Homeless() const {
    ProcessOptions o = Options();
    o.env["HOME"] = std::nullopt;
    o.env["XDG_DATA_HOME"] = std::nullopt;
    return o;
  }

  // What the recording xdg-open receives when the launcher opens url.
  std::string Site(const std::string& url) const { return target.OpenedUrl(url) + "\n"; }

  // What the recording xdg-open received; waits for it (it runs detached).
  std::string Opened() {
    WaitFor([&] { return ReadFile(openLog).find('\n') != std::string::npos; });
    return ReadFile(openLog);
  }

  // Nothing is opened: the shell's open would have come before the
  // launcher ended, so a short look after its end is enough. (Under Wine
  // the opener, winebrowser and then xdg-open, keeps the launcher's output
  // open: it has run by the time that output ends.)
  bool NothingOpened() {
    return !WaitFor([&] { return Exists(openLog); }, std::chrono::milliseconds(300));
  }
};

}  // namespace launcher_e2e
