#include "target.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace e2e {

namespace {

std::string Environment(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// "\r\n" as "\n": Windows programs write text with CRLF line ends.
std::string LinuxLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace

Target::Target() : m_strWine(Environment("TOLVANE_E2E_WINE")), m_strPrefix(Environment("WINEPREFIX")) {
  if (wine() && m_strPrefix.empty()) throw std::runtime_error("TOLVANE_E2E_WINE is set but WINEPREFIX is not");
  if (!wine()) m_strPrefix.clear();
}

const Target& Target::Current() {
  static const Target target;
  return target;
}

std::string Target::Program(const char* variable, const std::string& native) const {
  if (!wine()) return native;
  const std::string exe = Environment(variable);
  if (exe.empty()) throw std::runtime_error(std::string("TOLVANE_E2E_WINE is set but ") + variable + " is not");
  return exe;
}

std::vector<std::string> Target::Command(const std::string& exe, const std::vector<std::string>& args) const {
  std::vector<std::string> argv;
  if (wine()) argv.push_back(m_strWine);
  argv.push_back(exe);
  for (const std::string& a : args) argv.push_back(!a.empty() && a[0] == '/' ? Path(a) : a);
  return argv;
}

testing_support::ProcessResult Target::Run(const std::string& exe, const std::vector<std::string>& args,
                                           const testing_support::ProcessOptions& options) const {
  return RunCommand(Command(exe, args), options);
}

testing_support::ProcessResult Target::RunWithSwitches(const std::string& exe, const std::vector<std::string>& switches,
                                                       const testing_support::ProcessOptions& options) const {
  std::vector<std::string> argv = Command(exe);
  argv.insert(argv.end(), switches.begin(), switches.end());
  return RunCommand(argv, options);
}

testing_support::ProcessResult Target::RunCommand(const std::vector<std::string>& argv,
                                                  const testing_support::ProcessOptions& options) const {
  if (!wine()) return testing_support::RunProcess(argv, options);
  testing_support::ProcessOptions o = options;
  o.env.emplace("LC_ALL", "C.UTF-8");
  testing_support::ProcessResult r = testing_support::RunProcess(argv, o);
  r.out = LinuxLineEnds(r.out);
  r.err = LinuxLineEnds(r.err);
  return r;
}

std::string Target::Path(const std::string& host) const {
  if (!wine()) return host;
  std::string path = !host.empty() && host[0] == '/' ? "Z:" + host : host;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string Target::ModulePath(const std::string& exe) const {
  if (!wine()) return std::filesystem::canonical(exe).string();
  return Path(std::filesystem::absolute(exe).string());
}

std::string Target::OpenedUrl(const std::string& url) const {
  const std::size_t authority = url.find("://");
  if (!wine() || authority == std::string::npos) return url;
  return url.find('/', authority + 3) == std::string::npos ? url + "/" : url;
}

UserProfile::UserProfile(const std::string& root) {
  const Target& target = Target::Current();
  if (!target.wine()) {
    m_strHome = root + "/home";
    m_strLocal = m_strHome + "/xdg-data";
    m_strLocalSeen = m_strLocal;
    std::filesystem::create_directories(m_strLocal);
    m_env["HOME"] = m_strHome;
    m_env["XDG_DATA_HOME"] = m_strLocal;
    m_env["XDG_STATE_HOME"] = std::nullopt;  // the log of the last run under HOME
    return;
  }
  // A fresh name for every profile, lower case: Windows does not tell
  // "A" from "a", and two tests must never share a folder.
  static std::atomic<int> s_nProfiles{0};
  const std::string user = "e2e-" + std::to_string(getpid()) + "-" + std::to_string(++s_nProfiles);
  m_strWineUserDir = target.winePrefix() + "/drive_c/users/" + user;
  std::filesystem::remove_all(m_strWineUserDir);
  m_strLocal = m_strWineUserDir + "/AppData/Local";
  m_strLocalSeen = "C:\\users\\" + user + "\\AppData\\Local";
  std::filesystem::create_directories(m_strLocal);
  m_env["USER"] = user;
}

UserProfile::~UserProfile() {
  if (m_strWineUserDir.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(m_strWineUserDir, ec);
}

}  // namespace e2e
