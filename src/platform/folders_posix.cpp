#include "platform/folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform {

std::string GetModuleFileName() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<std::size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

namespace {

bool IsUsableHome(const char* home) {
  if (home == nullptr || home[0] != '/') return false;
  for (const char* p = home; *p; ++p) {
    if (*p != '/') return true;
  }
  return false;  // "/", "//": the root itself
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// $variable when set and absolute, else the home's fallback: the XDG base
// directory rule.
std::string XdgFolder(const char* variable, const char* fallback) {
  const char* xdg = std::getenv(variable);
  if (IsUsableHome(xdg)) return WithoutTrailingSlashes(xdg);

  std::string home;
  const char* env = std::getenv("HOME");
  if (IsUsableHome(env)) {
    home = env;
  } else {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        IsUsableHome(found->pw_dir)) {
      home = found->pw_dir;
    }
  }
  if (home.empty()) return std::string();
  return WithoutTrailingSlashes(home) + fallback;
}

}  // namespace

std::string GetLocalAppDataFolder() { return XdgFolder("XDG_DATA_HOME", "/.local/share"); }

std::string GetLastRunLogPath(const std::string& appName) {
  const std::string state = XdgFolder("XDG_STATE_HOME", "/.local/state");
  return state.empty() ? state : state + "/" + appName + "/last-run.log";
}

}  // namespace platform
