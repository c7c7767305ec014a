// The Windows installer (<name>-setup.exe) under Wine, driven from Linux
// as the other end-to-end tests under Wine are (the Windows build registers
// it; see tests/e2e/CMakeLists.txt): a silent install for a user of its
// own, the shortcuts read back from their .lnk files, the installed
// launcher started at the shortcut's target through the update road, and
// the silent uninstall.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>

#include "update_scenario.h"

using namespace update_e2e;

namespace {

std::string Setting(const char* variable) {
  const char* v = std::getenv(variable);
  if (v == nullptr || *v == '\0') throw std::runtime_error(std::string(variable) + " is not set");
  return v;
}

// What a shell link (.lnk) starts: the target from its LinkInfo (local base
// path and common path suffix), the working directory and the arguments
// from its string data.
struct ShellLink {
  std::string target, workingDir, arguments;
  std::string error;  // empty when the file could be read
};

ShellLink ReadShellLink(const std::string& bytes) {
  ShellLink link;
  auto u16 = [&](std::size_t at) -> std::uint32_t {
    return at + 2 <= bytes.size() ? static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8 : 0;
  };
  auto u32 = [&](std::size_t at) -> std::uint32_t { return u16(at) | u16(at + 2) << 16; };
  auto cString = [&](std::size_t at) {
    std::size_t end = bytes.find('\0', at);
    return at < bytes.size() && end != std::string::npos ? bytes.substr(at, end - at) : std::string();
  };
  if (bytes.size() < 0x4C || u32(0) != 0x4C) {
    link.error = "no shell link header";
    return link;
  }
  const std::uint32_t flags = u32(0x14);
  std::size_t at = 0x4C;
  if (flags & 0x01) at += 2 + u16(at);  // LinkTargetIDList
  if (flags & 0x02) {                    // LinkInfo
    const std::uint32_t size = u32(at), localBase = u32(at + 16), suffix = u32(at + 24);
    if ((u32(at + 8) & 0x01) == 0 || localBase == 0 || localBase >= size) {
      link.error = "LinkInfo without a local base path";
      return link;
    }
    link.target = cString(at + localBase) + (suffix != 0 && suffix < size ? cString(at + suffix) : "");
    at += size;
  } else {
    link.error = "no LinkInfo";
    return link;
  }
  // NAME, RELATIVE_PATH, WORKING_DIR, COMMAND_LINE_ARGUMENTS, ICON_LOCATION,
  // each there when its flag is; UTF-16 when IsUnicode (our text is ASCII).
  const bool unicode = flags & 0x80;
  for (std::uint32_t flag : {0x04u, 0x08u, 0x10u, 0x20u, 0x40u}) {
    if ((flags & flag) == 0) continue;
    const std::uint32_t count = u16(at);
    std::string text;
    for (std::uint32_t i = 0; i < count; ++i)
      text += static_cast<char>(unicode ? u16(at + 2 + 2 * i) : static_cast<unsigned char>(bytes[at + 2 + i]));
    at += 2 + count * (unicode ? 2 : 1);
    // Wine counts the terminating NUL too, where Windows does not.
    if (!text.empty() && text.back() == '\0') text.pop_back();
    if (flag == 0x10) link.workingDir = text;
    if (flag == 0x20) link.arguments = text;
  }
  if (at > bytes.size()) link.error = "string data cut short";
  return link;
}

// `reg query KEY`: value name -> "TYPE value"; nullopt when the key is not there.
std::optional<std::map<std::string, std::string>> RegistryKey(const Target& target, const std::string& key,
                                                              const ProcessOptions& o) {
  ProcessResult p = target.Run("reg", {"query", key}, o);
  if (p.status != 0) return std::nullopt;
  std::map<std::string, std::string> values;
  std::istringstream in(p.out);
  const std::regex value(R"(^\s+(\S+)\s+(REG_\w+)\s+(.*?)\s*$)");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, value)) values[m[1]] = m[2].str() + " " + m[3].str();
  }
  return values;
}

}  // namespace

TEST(Installer, SilentInstallShortcutsUpdateRoadAndSilentUninstall) {
  const Target& target = Target::Current();
  ASSERT_TRUE(target.wine()) << "the Windows build runs this under Wine";
  const std::string name = Setting("TOLVANE_E2E_APP_NAME"), title = Setting("TOLVANE_E2E_APP_TITLE");
  const std::string setup = Setting("TOLVANE_E2E_SETUP");

  // The player's launcher where the installer puts it, in a fresh profile.
  // A launcher built with the test keys runs only a signed update.
  const std::string keys = TOLVANE_TEST_KEYS;
  Scenario s(keys.empty(), name, std::string());
  const std::string localSeen = s.r.dataHomeSeen;  // C:\users\<user>\AppData\Local
  const std::string installSeen = localSeen + "\\Programs\\" + name;
  const std::string installDir = s.r.dataHome + "/Programs/" + name;
  const std::string profile = s.r.dataHome.substr(0, s.r.dataHome.rfind("/AppData/Local"));
  const std::string exeSeen = installSeen + "\\" + name + ".exe";
  s.exe = exeSeen;
  const std::string uninstallKey = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name;
  ProcessOptions o = s.r.Options();
  // Where Wine mirrors the shortcuts for the Linux desktop, not root's own home.
  o.env["HOME"] = s.r.root / "unix-home";
  std::filesystem::create_directories(*o.env["HOME"]);

  ProcessResult p = target.RunWithSwitches(setup, {"/S"}, o);
  ASSERT_EQ(p.status, 0) << p.out << p.err;
  std::vector<std::string> programs = {"copyright.txt", name + ".exe", name + ".ico", "tolvane-fetch.exe",
                                      "tolvane-unzip.exe"};
  if (std::getenv("TOLVANE_E2E_HAS_VERIFY")) programs.push_back("tolvane-verify.exe");
  programs.push_back("uninstall.exe");
  EXPECT_EQ(ListTree(installDir), programs);
  // The terms of what the programs carry inside: the package's own first,
  // then each statically linked library's.
  const std::string terms = ReadFile(installDir + "/copyright.txt");
  EXPECT_EQ(terms.rfind("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n", 0), 0u);
  for (const char* library : {"libsodium-dev", "libtinyxml-dev", "libz-mingw-w64-dev", "mingw-w64-x86-64-dev",
                              "gcc-mingw-w64-x86-64-posix-runtime"}) {
    const std::size_t at = terms.find(std::string("(Debian package ") + library + ") ========\n\n");
    ASSERT_NE(at, std::string::npos) << library;
    EXPECT_NE(terms.find("\nCopyright", at), std::string::npos) << library;
  }
  EXPECT_FALSE(Exists(s.dataDir)) << "the data directory is the launcher's to make, not the installer's";

  const std::vector<std::string> shortcuts = {
      profile + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/" + title + ".lnk",
      profile + "/Desktop/" + title + ".lnk"};
  for (const std::string& lnk : shortcuts) {
    ASSERT_TRUE(Exists(lnk)) << lnk;
    const ShellLink link = ReadShellLink(ReadFile(lnk));
    EXPECT_EQ(link.error, "") << lnk;
    EXPECT_EQ(link.target, exeSeen) << lnk;
    EXPECT_EQ(link.workingDir, installSeen) << lnk;
    EXPECT_EQ(link.arguments, "") << lnk;
  }

  const auto registered = RegistryKey(target, uninstallKey, o);
  ASSERT_TRUE(registered) << uninstallKey;
  const std::string uninstaller = installSeen + "\\uninstall.exe";
  EXPECT_EQ(*registered, (std::map<std::string, std::string>{
                             {"DisplayName", "REG_SZ " + title},
                             {"DisplayVersion", "REG_SZ " + Setting("TOLVANE_E2E_VERSION")},
                             {"Publisher", "REG_SZ " + Setting("TOLVANE_E2E_PUBLISHER")},
                             {"DisplayIcon", "REG_SZ " + installSeen + "\\" + name + ".ico"},
                             {"InstallLocation", "REG_SZ " + installSeen},
                             {"UninstallString", "REG_SZ \"" + uninstaller + "\""},
                             {"QuietUninstallString", "REG_SZ \"" + uninstaller + "\" /S"},
                             {"NoModify", "REG_DWORD 0x1"},
                             {"NoRepair", "REG_DWORD 0x1"},
                         }));

  // Started at the shortcut's target, the installed launcher names itself
  // after it, keeps its data apart from the program and hands off to the
  // updater that the service's update brings.
  Service service;
  if (!keys.empty()) {
    service.updateZip = s.Zip("update", UpdatePackage());
    service.gameZip = s.Zip("game", kGame);
    service.manifest = SignedManifest(*service.updateZip, *service.gameZip);
    service.signature = Sign(s.r.root.path(), *service.manifest, keys + "/release.key");
  }
  s.Serve(service);
  s.Run();
  s.ExpectHandOff("installed launcher");
  EXPECT_TRUE(Exists(s.dataDir + "Game/" + name + ".exe"));

  // The uninstaller runs from a copy of itself that it starts and does not
  // wait for: its work shows a little later.
  p = target.RunWithSwitches(uninstaller, {"/S"}, o);
  EXPECT_EQ(p.status, 0) << p.out << p.err;
  EXPECT_TRUE(WaitFor([&] { return !Exists(installDir); }, std::chrono::seconds(30))) << "still there: " << installDir;
  for (const std::string& lnk : shortcuts) EXPECT_FALSE(Exists(lnk)) << lnk;
  EXPECT_FALSE(RegistryKey(target, uninstallKey, o)) << uninstallKey << " still registered";
  EXPECT_TRUE(Exists(s.dataDir + "Game/" + name + ".exe")) << "the user's data directory is left alone";
  EXPECT_TRUE(Exists(s.dataDir + "update.ini"));
}
