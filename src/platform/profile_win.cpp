#include "platform/profile.h"

#include <algorithm>
#include <cstdint>

#include "platform/files_win.h"

namespace platform {

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                                    std::size_t nSize, const std::string& path) {
  // A buffer of no bytes holds nothing, and the system would not say so.
  if (nSize == 0) return std::string();
  // Given a relative path the system looks in the Windows directory. The
  // reader is the ANSI one, for its rules of values in that code page, and
  // stops at MAX_PATH: the manifest lies at the top of the data directory.
  const std::wstring wide = win::FullPath(path);
  std::string full;
  if (wide.empty() || !win::ToAnsi(wide, full)) return FitProfileBuffer(def, nSize);
  const std::string strSection(section), strKey(key), strDefault(def);
  // No value is longer than the file or the default: a buffer of nSize
  // bytes need not be made when nSize is far larger.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  std::uint64_t room = strDefault.size() + 1;
  if (GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    room = std::max<std::uint64_t>(room, (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow) + 1);
  }
  std::string value(static_cast<std::size_t>(std::min<std::uint64_t>({nSize, room, 0x7FFFFFFF})), '\0');
  const DWORD length = GetPrivateProfileStringA(strSection.c_str(), strKey.c_str(), strDefault.c_str(), value.data(),
                                                static_cast<DWORD>(value.size()), full.c_str());
  value.resize(std::min<std::size_t>(length, value.size() - 1));
  return value;
}

}  // namespace platform
