// Files by handle. No handle is passed on to a program that this one
// starts (closed on exec; not inherited on Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace platform {

// A descriptor, or on Windows a HANDLE (INVALID_HANDLE_VALUE is -1 too).
using FileHandle = std::intptr_t;
constexpr FileHandle kNoFile = -1;

FileHandle OpenFileForReading(const std::string& path);

// Creates the file, or empties it when it exists, for writing. A new file
// gets mode (less the umask; on Windows the read-only attribute when mode
// has no owner write permission); an emptied one keeps its own. Fails when
// the last component is a symbolic link, when it is a directory, and when
// an existing file has no owner write permission (its read-only
// attribute). The last test looks at the mode itself, so it holds for root
// as well.
FileHandle CreateFileForWriting(const std::string& path, unsigned mode);

// Opens an existing file for writing after its first size bytes, cutting
// off what follows them, with the checks of CreateFileForWriting. Fails
// when it is no disk file or holds fewer than size bytes.
FileHandle OpenFileToContinue(const std::string& path, std::uint64_t size);

// Reads up to size bytes starting at pos, going on after short reads until
// size bytes or the end of the file. The count, or -1 when a read fails.
long ReadFileAt(FileHandle h, std::uint64_t pos, void* buffer, std::size_t size);

// Writes all of data; false when any write fails.
bool WriteFileAll(FileHandle h, const void* data, std::size_t size);

bool GetFileSize(FileHandle h, std::uint64_t& size);

// A regular file on disk, as opposed to a pipe, socket, device or directory.
bool IsDiskFile(FileHandle h);

// Creation, access and modification times; Linux keeps no creation time
// and leaves it.
bool SetFileTimes(FileHandle h, FileTime creation, FileTime access, FileTime modification);

void CloseFile(FileHandle h);

}  // namespace platform
