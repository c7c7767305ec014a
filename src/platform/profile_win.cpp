#include "platform/profile.h"

#include <algorithm>

#include "platform/files_win.h"

namespace platform {

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                                    std::size_t nSize, const std::string& path) {
  // A buffer of no bytes holds nothing, and the system would not say so.
  if (nSize == 0) return std::string();
  // Given a relative path the system looks in the Windows directory.
  const std::string full = win::FullPath(path);
  if (full.empty()) return FitProfileBuffer(def, nSize);
  const std::string strSection(section), strKey(key), strDefault(def);
  std::string value(std::min<std::size_t>(nSize, 0x7FFFFFFF), '\0');
  const DWORD length = GetPrivateProfileStringA(strSection.c_str(), strKey.c_str(), strDefault.c_str(), value.data(),
                                                static_cast<DWORD>(value.size()), full.c_str());
  value.resize(std::min<std::size_t>(length, value.size() - 1));
  return value;
}

}  // namespace platform
