// What the Windows tests make and ask of the system: junctions and
// symbolic links where the system makes them (Wine's CreateSymbolicLinkA
// reports success and makes nothing, and Wine sets no reparse points, so
// the tests that need links skip there: Unix symbolic links made from the
// Linux side are the only links Wine knows), and whether Wine is the
// system.
#pragma once

#include "platform/windows_api.h"

#include <winioctl.h>

#include <cstring>
#include <string>

namespace win_fixtures {

// path with backslashes only, in the "\\?\" form the tests use for names
// that a plain path would mean otherwise ("nul", "a.").
inline std::string Backslashed(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

inline std::string Literal(const std::string& path) { return "\\\\?\\" + Backslashed(path); }

inline bool IsReparsePoint(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Wine's ntdll carries a function of its own.
inline bool RunsUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A junction at link (a new, empty directory) to the directory target.
inline bool MakeJunction(const std::string& target, const std::string& link) {
  if (!CreateDirectoryA(link.c_str(), nullptr)) return false;
  const HANDLE h = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  bool ok = false;
  if (h != INVALID_HANDLE_VALUE) {
    const std::wstring substitute = L"\\??\\" + std::wstring(target.begin(), target.end());
    struct {
      DWORD tag;
      WORD dataLength, reserved, substituteOffset, substituteLength, printOffset, printLength;
      WCHAR names[1024];
    } data{};
    const WORD bytes = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
    data.tag = IO_REPARSE_TAG_MOUNT_POINT;
    data.substituteLength = bytes;
    data.printOffset = static_cast<WORD>(bytes + sizeof(WCHAR));
    std::memcpy(data.names, substitute.c_str(), bytes + sizeof(WCHAR));
    data.dataLength = static_cast<WORD>(8 + bytes + 2 * sizeof(WCHAR));
    DWORD returned = 0;
    ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, &data, 8 + data.dataLength, nullptr, 0, &returned, nullptr);
    CloseHandle(h);
  }
  if (!ok || !IsReparsePoint(link)) {
    RemoveDirectoryA(link.c_str());
    return false;
  }
  return true;
}

// A symbolic link to a file (developer mode or a privileged account).
inline bool MakeFileLink(const std::string& target, const std::string& link) {
  CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  return IsReparsePoint(link);
}

}  // namespace win_fixtures
