// Unpacks a whole zip archive into a directory.
#pragma once

#include <cstdint>
#include <string>

#include "archive/zip_item.h"
#include "platform/types.h"

// Told about each item as it is done, for progress and for the reason of
// a failure (result ZI_NOFILE for a name refused as absolute or climbing).
class ZipExtractNotice {
 public:
  virtual ~ZipExtractNotice() = default;
  virtual void OnItem(std::int32_t nCount, const ZipItem& item, std::uint32_t nResult) = 0;
};

// TRUE when the archive was opened and every item was written (an archive
// without items counts). Stops at the first item that fails. A relative
// zipPath names the file relative to the current directory at the call.
BOOL ExtractZipToDirectory(std::string zipPath, std::string destDir, ZipExtractNotice* pNotice = nullptr);
