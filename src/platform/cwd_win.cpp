#include "platform/cwd.h"

#include "platform/files_win.h"

namespace platform {

// The current directory is a plain path, never one in "\\?\" form: the
// system bounds it by MAX_PATH either way, and relative paths and what
// GetCurrentDir gives stay as users write them.

std::string GetCurrentDir() {
  const std::wstring wide = win::Filled([](WCHAR* buffer, DWORD size) { return GetCurrentDirectoryW(size, buffer); });
  std::string path;
  // A directory without an ANSI name is none that a caller could go back to.
  if (wide.empty() || !win::ToAnsi(wide, path)) return std::string();
  return path;
}

bool SetCurrentDir(const std::string& path) {
  std::wstring wide;
  return !path.empty() && win::ToWide(path, wide) && SetCurrentDirectoryW(wide.c_str());
}

SavedCurrentDir::SavedCurrentDir() : m_strPath(GetCurrentDir()) {
  if (m_strPath.empty()) return;
  // Read access, and no FILE_SHARE_DELETE: while this is open nobody can
  // remove or rename the directory, so its path leads back to it.
  const std::wstring path = win::WidePath(m_strPath);
  if (path.empty()) return;
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  m_h = reinterpret_cast<std::intptr_t>(h);
}

SavedCurrentDir::~SavedCurrentDir() {
  if (m_h != -1) CloseHandle(reinterpret_cast<HANDLE>(m_h));
}

// The way back is the path; the handle only keeps it leading there.
bool SavedCurrentDir::IsValid() const { return !m_strPath.empty(); }

bool SavedCurrentDir::Restore() const { return IsValid() && SetCurrentDir(m_strPath); }

}  // namespace platform
