#include "fs/paths.h"

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path.h"
#include "platform/text.h"

BOOL IsExistingFile(const char* path) {
  if (path == nullptr) return FALSE;
  return platform::PathExists(path) && !platform::PathIsDirectory(path) ? TRUE : FALSE;
}

BOOL CreateDirectoryTree(std::string path) {
  if (path.empty()) return FALSE;
  if (!platform::EndsWithSeparator(path)) path += platform::kPathSeparator;
  for (std::size_t pos = 0; pos < path.size();) {
    std::size_t slash = platform::FindSeparator(path, pos);
    if (slash == platform::npos) break;
    // A leading separator gives an empty prefix: the root, which exists
    // (as do a drive and a share, which only fail to be made again).
    if (slash > 0) platform::CreateOneDirectory(path.substr(0, slash));
    pos = slash + 1;
  }
  return TRUE;
}

void DeleteDirectoryContents(std::string dir) {
  // An empty path must not come to mean the current directory.
  if (dir.empty()) return;
  platform::DeleteDirectoryTreeContents(dir);
}

std::string GetModulePath() { return platform::GetModuleFileName(); }

std::string GetDataDirectory(const std::string& strAppName) {
  std::string dir = platform::GetLocalAppDataFolder();
  if (dir.empty()) return dir;
  if (!platform::EndsWithSeparator(dir)) dir += platform::kPathSeparator;
  dir += strAppName;
  if (!platform::EndsWithSeparator(dir)) dir += platform::kPathSeparator;
  return dir;
}
