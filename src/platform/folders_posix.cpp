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

}  // namespace

std::string GetLocalAppDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
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
  return WithoutTrailingSlashes(home) + "/.local/share";
}

}  // namespace platform
