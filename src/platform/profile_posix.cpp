#include "platform/profile.h"

#include <cstdint>

#include "platform/file.h"

namespace platform {

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                                    std::size_t nSize, const std::string& path) {
  FileHandle h = OpenFileForReading(path);
  if (h == kNoFile) return FitProfileBuffer(def, nSize);
  ProfileScanner scanner(section, key, nSize);
  bool bRead = IsDiskFile(h);  // a device or a pipe could feed it for ever
  char buffer[4096];
  for (std::uint64_t pos = 0; bRead && !scanner.IsDone();) {
    long n = ReadFileAt(h, pos, buffer, sizeof buffer);
    if (n < 0) bRead = false;
    if (n <= 0) break;
    scanner.Feed(buffer, static_cast<std::size_t>(n));
    pos += static_cast<std::uint64_t>(n);
  }
  CloseFile(h);
  std::string value;
  if (bRead && scanner.Finish(value)) return value;
  return FitProfileBuffer(def, nSize);
}

}  // namespace platform
