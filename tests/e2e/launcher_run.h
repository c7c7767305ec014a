// The built launcher, run as a user runs it: copied under some name, with
// its own home, its own runtime directory (for its named mutexes) and a
// recording xdg-open first on PATH.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/support.h"

namespace launcher_e2e {

using namespace testing_support;

// The port of the built-in hosts, which the tests serve themselves.
inline int HostsPort() {
  std::string url = TOLVANE_OFFICIAL_URL;
  return std::stoi(url.substr(url.rfind(':') + 1));
}

struct LauncherRun {
  TempDir root;
  std::string bin = root / "bin";
  std::string home = root / "home";
  std::string dataHome = root / "home/xdg-data";
  std::string runtime = root / "run";
  std::string openLog = root / "xdg-open.log";

  LauncherRun() {
    WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$TOLVANE_TEST_OPEN_LOG\"\n", 0755);
    WriteFile(home + "/.profile", "keep");
    std::filesystem::create_directories(dataHome);
    std::filesystem::create_directories(runtime);
    chmod(runtime.c_str(), 0700);
  }

  std::string Install(const std::string& exeName) {
    std::string exe = root / exeName;
    std::filesystem::copy_file(TOLVANE_BIN, exe, std::filesystem::copy_options::overwrite_existing);
    return exe;
  }

  ProcessOptions Options() const {
    ProcessOptions o;
    o.cwd = root.path();
    o.env["HOME"] = home;
    o.env["XDG_DATA_HOME"] = dataHome;
    o.env["XDG_RUNTIME_DIR"] = runtime;
    o.env["PATH"] = bin + ":/usr/bin:/bin";
    o.env["TOLVANE_TEST_OPEN_LOG"] = openLog;
    // The launcher must talk to the loopback service itself, never via a proxy.
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
      o.env[v] = std::nullopt;
    o.timeout = std::chrono::seconds(60);
    return o;
  }

  ProcessResult Run(const std::string& exeName) { return RunProcess({Install(exeName)}, Options()); }

  // How a user without HOME runs it from the root of the scratch tree.
  ProcessOptions Homeless() const {
    ProcessOptions o = Options();
    o.env["HOME"] = std::nullopt;
    o.env["XDG_DATA_HOME"] = std::nullopt;
    return o;
  }

  // What the recording xdg-open received; waits for it (it runs detached).
  std::string Opened() {
    WaitFor([&] { return ReadFile(openLog).find('\n') != std::string::npos; });
    return ReadFile(openLog);
  }

  // Nothing is opened: the shell's open would have come before the launcher
  // ended, so a short look after its end is enough.
  bool NothingOpened() {
    return !WaitFor([&] { return Exists(openLog); }, std::chrono::milliseconds(300));
  }
};

}  // namespace launcher_e2e
