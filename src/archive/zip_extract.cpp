#include "archive/zip_extract.h"

#include "fs/paths.h"
#include "platform/cwd.h"
#include "platform/path.h"

namespace {

// path made absolute against the current directory; empty when it is
// relative and the current directory's own path cannot be read.
std::string Absolute(const std::string& path) {
  if (path.empty() || platform::IsAbsolutePath(path)) return path;
  std::string cwd = platform::GetCurrentDir();
  if (cwd.empty()) return cwd;
  if (!platform::EndsWithSeparator(cwd)) cwd += platform::kPathSeparator;
  return cwd + path;
}

}  // namespace

BOOL ExtractZipToDirectory(std::string zipPath, std::string destDir, ZipExtractNotice* pNotice) {
  // An empty destination would mean the root of the file system.
  if (destDir.empty()) return FALSE;
  if (!platform::EndsWithSeparator(destDir)) destDir += platform::kPathSeparator;
  BOOL result = TRUE;

  // Both paths are fixed before the current directory moves: the archive
  // is found where the caller meant it, and the pre-delete below reaches
  // the targets themselves.
  const platform::SavedCurrentDir saved;
  if (!saved.IsValid()) return FALSE;  // there would be no way back
  zipPath = Absolute(zipPath);
  destDir = Absolute(destDir);
  if (zipPath.empty() || destDir.empty()) return FALSE;

  CreateDirectoryTree(destDir);
  // Never extract into whatever directory happens to be current.
  if (!platform::SetCurrentDir(destDir)) return FALSE;

  ZipHandle* handle = ZipOpenFile(zipPath.c_str());
  if (handle == nullptr) {
    saved.Restore();
    return FALSE;
  }
  ZipItem item;
  ZipGetItem(handle, -1, &item);
  const std::int32_t count = item.m_nIndex;
  for (std::int32_t i = 0; i < count; ++i) {
    std::uint32_t rc = ZipGetItem(handle, i, &item);
    if (rc != ZI_OK) {
      item = ZipItem{};
      item.m_nIndex = i;
    } else {
      // Below the destination, which is the reader's root: an earlier copy
      // of the target, read-only or not, is replaced.
      rc = ZipExtractItemBelowRoot(handle, i);
    }
    if (pNotice) pNotice->OnItem(count, item, rc);
    if (rc != ZI_OK) {
      result = FALSE;
      break;
    }
  }
  ZipCloseFile(handle);
  saved.Restore();
  return result;
}
