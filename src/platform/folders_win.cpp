#include "platform/folders.h"

#include "platform/files_win.h"

#include <shlobj.h>

#include "platform/path.h"

namespace platform {

std::string GetModuleFileName() {
  // Past the 260 bytes of the original buffer: the path is never cut.
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    if (buf.size() >= 32768) return std::string();  // cut: no path of the system is longer
    buf.resize(buf.size() * 2);
  }
  // Without an ANSI form the path would name another file, or none: no
  // path then, and the launcher has no name to go by.
  std::string path;
  return win::ToAnsi(buf, path) ? path : std::string();
}

std::string GetLocalAppDataFolder() {
  WCHAR buf[MAX_PATH] = {};
  std::string folder;
  // A folder without an ANSI path would be another folder, or none.
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buf)) ||
      !win::ToAnsi(buf, folder)) {
    return std::string();
  }
  while (EndsWithSeparator(folder)) folder.pop_back();
  // "C:\" comes back as "C:": the root of a drive is no folder for data,
  // and neither is a path that hangs on the current directory.
  return IsAbsolutePath(folder) ? folder : std::string();
}

std::string GetLastRunLogPath(const std::string& appName) {
  const std::string local = GetLocalAppDataFolder();
  return local.empty() ? local : local + "\\" + appName + "-last-run.log";
}

}  // namespace platform
