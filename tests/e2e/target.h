// Which executables the end-to-end drivers run: this build's own, or the
// Windows build's .exe files under Wine when TOLVANE_E2E_WINE names the
// Wine wrapper. The drivers stay Linux programs either way (they start the
// servers and the proxies); what differs between the two lives here: how a
// program is started, how it writes a path of this machine, where its user
// keeps local application data, and how its output ends lines.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/support.h"

namespace e2e {

class Target {
 public:
  // From the environment, once: TOLVANE_E2E_WINE (the wrapper that runs a
  // Windows program) and WINEPREFIX (the prefix that wrapper uses).
  static const Target& Current();

  bool wine() const { return !m_strWine.empty(); }

  // The program under test: the one the variable names under Wine (say
  // TOLVANE_E2E_FETCH), else the Linux build's own, native.
  std::string Program(const char* variable, const std::string& native) const;

  // The argv that runs exe with args. Arguments that are absolute paths of
  // this machine are passed as the program writes them (see Path).
  std::vector<std::string> Command(const std::string& exe, const std::vector<std::string>& args = {}) const;
  // RunProcess of Command, with the output's line ends as on Linux. Under
  // Wine the ANSI code page follows the locale: it is 1252 (LC_ALL=C.UTF-8)
  // unless the case names another locale, so that every byte from 0x80 up
  // is a character of its own, most of them printable.
  testing_support::ProcessResult Run(const std::string& exe, const std::vector<std::string>& args = {},
                                     const testing_support::ProcessOptions& options = {}) const;
  // The same with Windows switches ("/S"), which pass as they are, not as paths.
  testing_support::ProcessResult RunWithSwitches(const std::string& exe, const std::vector<std::string>& switches,
                                                 const testing_support::ProcessOptions& options = {}) const;

  // A path of this machine as the program writes it: under Wine an
  // absolute one is on drive Z: ("/tmp/a" is "Z:\tmp\a"), and every '/'
  // is a '\'.
  std::string Path(const std::string& host) const;
  // The separator of the paths that the program writes.
  char separator() const { return wine() ? '\\' : '/'; }
  // The path of its own executable that the program finds when started
  // from exe (Linux resolves links through /proc/self/exe; Wine does not).
  std::string ModulePath(const std::string& exe) const;

  // The address that the site's opener (xdg-open) receives for url: Wine's
  // winebrowser hands it on in canonical form, where a bare host has its '/'.
  std::string OpenedUrl(const std::string& url) const;

  // The Wine prefix ($WINEPREFIX); empty natively.
  const std::string& winePrefix() const { return m_strPrefix; }

 private:
  Target();
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;
  testing_support::ProcessResult RunCommand(const std::vector<std::string>& argv,
                                            const testing_support::ProcessOptions& options) const;

  std::string m_strWine;
  std::string m_strPrefix;
};

// A user of the program's own for one test: an empty local application data
// folder, and the environment that gives the program that folder. Natively
// that is a HOME and XDG_DATA_HOME below root; under Wine a Windows user of
// its own in the prefix (USER names it; Wine makes its profile on first use),
// removed again at the end.
class UserProfile {
 public:
  explicit UserProfile(const std::string& root);
  ~UserProfile();
  UserProfile(const UserProfile&) = delete;
  UserProfile& operator=(const UserProfile&) = delete;

  const std::string& home() const { return m_strHome; }                  // natively; empty under Wine
  const std::string& localAppData() const { return m_strLocal; }         // this machine's path
  const std::string& localAppDataSeen() const { return m_strLocalSeen; } // as the program writes it
  const std::map<std::string, std::optional<std::string>>& env() const { return m_env; }

 private:
  std::string m_strHome;
  std::string m_strLocal;
  std::string m_strLocalSeen;
  std::string m_strWineUserDir;  // removed at the end
  std::map<std::string, std::optional<std::string>> m_env;
};

}  // namespace e2e

// A case that checks a rule that only POSIX has (modes, links, signals,
// terminals, HOME and the password database) runs natively only.
#define E2E_POSIX_ONLY(reason) \
  if (::e2e::Target::Current().wine()) GTEST_SKIP() << "POSIX only: " << reason
