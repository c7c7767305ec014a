// Files by handle. Every handle is closed on exec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace platform {

using FileHandle = int;
constexpr FileHandle kNoFile = -1;

FileHandle OpenFileForReading(const std::string& path);

// Creates the file, or empties it when it exists, for writing. A new file
// gets mode (less the umask); an emptied one keeps its own. Fails when the last component is a symbolic
// link, when it is a directory, and when an existing file has no owner
// write permission (its read-only attribute). The last test looks at the
// mode itself, so it holds for root as well.
FileHandle CreateFileForWriting(const std::string& path, unsigned mode);

// Reads up to size bytes starting at pos, going on after short reads until
// size bytes or the end of the file. The count, or -1 when a read fails.
long ReadFileAt(FileHandle h, std::uint64_t pos, void* buffer, std::size_t size);

// Writes all of data; false when any write fails.
bool WriteFileAll(FileHandle h, const void* data, std::size_t size);

bool GetFileSize(FileHandle h, std::uint64_t& size);

// A regular file on disk, as opposed to a pipe, socket, device or directory.
bool IsDiskFile(FileHandle h);

// Access and modification times (Linux keeps no creation time).
bool SetFileTimes(FileHandle h, FileTime access, FileTime modification);

void CloseFile(FileHandle h);

}  // namespace platform
