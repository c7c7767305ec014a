// Directories held open, so that entries are made relative to them: a name
// inside one is never resolved through a symbolic link, and a deep tree
// costs no walk from the root for each file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace platform {

// A descriptor on Linux; on Windows the backend's own record of an open
// directory.
using DirHandle = std::intptr_t;
constexpr DirHandle kNoDir = -1;

// The directory at path (links in path are followed: the caller chose it).
DirHandle OpenDirectory(const std::string& path);

enum class SubdirResult { kOpened, kLink, kFailed };

// Makes the directory name inside parent when it is missing (mode 0777 less
// the umask) and opens it; never through a link (kLink when one is there,
// or on Windows when the name does not end up where it stands: "a." or a
// short 8.3 name of another entry).
SubdirResult MakeAndOpenSubdirectory(DirHandle parent, const std::string& name, DirHandle& dir);

// Creates the regular file name inside dir for writing, with mode less the
// umask (see CreateFileForWriting), in place of whatever non-directory is
// there: an earlier file, one without write permission too, or a link,
// which is removed, not followed. On Windows a name that opens a device
// ("NUL", "con.txt") or that does not end up where it stands is refused.
FileHandle CreateFileReplacingAt(DirHandle dir, const std::string& name, unsigned mode);

void CloseDirectory(DirHandle dir);

}  // namespace platform
