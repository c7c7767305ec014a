#include "platform/path.h"

namespace platform {

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
}  // namespace

// "C:\x" and "C:/x", and "\\server\share" (also "\\?\" and "\\.\"). "C:x"
// and "\x" are not: they hang on the current directory of a drive, or on
// the current drive.
bool IsAbsolutePath(std::string_view path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) return true;
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

}  // namespace platform
