#include "platform/folders.h"

#include "platform/windows_api.h"

#include <shlobj.h>

#include "platform/path.h"

namespace platform {

std::string GetModuleFileName() {
  // Past the 260 bytes of the original buffer: the path is never cut.
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    if (buf.size() >= 32768) return std::string();  // cut: no path of the system is longer
    buf.resize(buf.size() * 2);
  }
}

std::string GetLocalAppDataFolder() {
  char buf[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buf))) return std::string();
  std::string folder = buf;
  while (EndsWithSeparator(folder)) folder.pop_back();
  // "C:\" comes back as "C:": the root of a drive is no folder for data,
  // and neither is a path that hangs on the current directory.
  return IsAbsolutePath(folder) ? folder : std::string();
}

}  // namespace platform
