#include "platform/cwd.h"

#include "platform/windows_api.h"

namespace platform {

std::string GetCurrentDir() {
  std::string buf(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buf.size()), buf.data());
    if (n == 0) return std::string();
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.assign(n, '\0');  // n counts the terminating zero then
  }
  return std::string();
}

bool SetCurrentDir(const std::string& path) { return !path.empty() && SetCurrentDirectoryA(path.c_str()); }

SavedCurrentDir::SavedCurrentDir() : m_strPath(GetCurrentDir()) {
  if (m_strPath.empty()) return;
  // Read access, and no FILE_SHARE_DELETE: while this is open nobody can
  // remove or rename the directory, so its path leads back to it.
  const HANDLE h = CreateFileA(m_strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  m_h = reinterpret_cast<std::intptr_t>(h);
}

SavedCurrentDir::~SavedCurrentDir() {
  if (m_h != -1) CloseHandle(reinterpret_cast<HANDLE>(m_h));
}

// The way back is the path; the handle only keeps it leading there.
bool SavedCurrentDir::IsValid() const { return !m_strPath.empty(); }

bool SavedCurrentDir::Restore() const { return IsValid() && SetCurrentDirectoryA(m_strPath.c_str()); }

}  // namespace platform
