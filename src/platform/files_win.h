// What the Windows file sources share: entries checked by handle, where
// a link can no longer change what a name stands for.
#pragma once

#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/windows_api.h"

namespace platform::win {

// The attributes of an open handle; INVALID_FILE_ATTRIBUTES when unknown.
DWORD AttributesOf(HANDLE h);

// Where the open handle really is, as "C:\..." or "\\server\share\..."
// (the final path without its "\\?\"); empty when the system cannot say.
std::string FinalPathOf(HANDLE h);

// dir, a separator unless it ends with one, name.
std::string JoinPath(const std::string& dir, std::string_view name);

// The path in its "\\?\" form, which the system takes as it stands: an
// entry named "nul" or "a." is that entry, not a device or "a".
std::string LiteralPath(const std::string& path);

// Whether the open handle is the entry name of the directory whose final
// path is dir. A link opened through (Wine shows a Unix symbolic link to
// a file as a plain file; only its final path gives it away), a short 8.3
// name or a name the system changes ("a." opens "a") all fail this.
bool StandsWhere(HANDLE h, const std::string& dir, std::string_view name);

// path made absolute as the system does it ('/' becomes a backslash, "."
// and ".." go); empty when it cannot be.
std::string FullPath(const std::string& path);

// Whether h, opened by path, is the entry that the last component of path
// names rather than what a link there leads to (links before it count).
bool IsEntryOf(HANDLE h, const std::string& path);

// Removes the non-directory entry name of the directory whose final path
// is dir: a link (one that the system shows as one) itself, or a file,
// read-only too, after its attributes are cleared by handle. A directory,
// and whatever does not stand where it is named, stays. listed is what a
// listing said of the entry. True when it is gone.
bool RemoveNonDirectory(const std::string& dir, const std::string& name, DWORD listed);

// 100 ns steps since 1601 as the system takes them; false for 1601-01-01
// 00:00:00.0000000 itself (to SetFileTime that means "no change") and
// before.
bool ToSystemFileTime(FileTime ft, FILETIME& out);

}  // namespace platform::win
