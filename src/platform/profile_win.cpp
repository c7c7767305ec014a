#include "platform/profile.h"

#include <algorithm>

#include "platform/windows_api.h"

namespace platform {

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                                    std::size_t nSize, const std::string& path) {
  // A buffer of no bytes holds nothing, and the system would not say so.
  if (nSize == 0) return std::string();
  // Given a relative path the system looks in the Windows directory.
  std::string full(MAX_PATH, '\0');
  DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n >= full.size()) {
    full.assign(n, '\0');
    n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  if (path.empty() || n == 0 || n >= full.size()) return FitProfileBuffer(def, nSize);
  full.resize(n);
  const std::string strSection(section), strKey(key), strDefault(def);
  std::string value(std::min<std::size_t>(nSize, 0x7FFFFFFF), '\0');
  const DWORD length = GetPrivateProfileStringA(strSection.c_str(), strKey.c_str(), strDefault.c_str(), value.data(),
                                                static_cast<DWORD>(value.size()), full.c_str());
  value.resize(std::min<std::size_t>(length, value.size() - 1));
  return value;
}

}  // namespace platform
