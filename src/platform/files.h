// Files and directories, by path. Nothing here follows a symbolic link in
// the last component unless it says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// True when the path names something, through links: a dangling link
// names nothing.
bool PathExists(const std::string& path);
// True when the path names a directory, through links.
bool PathIsDirectory(const std::string& path);
// True when the path itself is a symbolic link, dangling or not (on
// Windows a reparse point: a junction or a symbolic link).
bool PathIsLink(const std::string& path);

// One directory whose parent exists; false when it exists or cannot be made.
bool CreateOneDirectory(const std::string& path);

struct DirEntry {
  std::string strName;
  bool bDirectory;  // a real directory, not a link to one
};

// Entries of dir whose names match pattern, without "." and "..", sorted
// by name. The pattern is a shell wildcard matched without regard to ASCII
// case ("*.exe" finds SETUP.EXE; on Windows FindFirstFileA matches it);
// "*.*" matches every name. False when the directory cannot be read.
bool EnumerateDirectory(const std::string& dir, const std::string& pattern,
                        std::vector<DirEntry>& entries);

bool DeleteOneFile(const std::string& path);

// Gives the file a new name, never replacing what has that name already
// (a file, a directory, a dangling link): then nothing changes and the
// result is false. So renaming a file to its own name changes nothing.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Puts the file from in place of to in one step, replacing a file (or a
// link) of that name; false when it cannot (to is a directory, say).
bool ReplaceFile(const std::string& from, const std::string& to);

// Sets the modification time (seconds since 1970), leaving the access time.
bool SetModificationTime(const std::string& path, std::int64_t t);

bool RemoveEmptyDirectory(const std::string& path);

// A new directory of this user's own below the system's place for
// temporary files ($TMPDIR, else /tmp; on Windows GetTempPathA), named
// after prefix and something unique; its path ends with a separator.
// Empty when none can be made.
std::string MakeTempDirectory(const std::string& prefix);

// Deletes everything inside dir; dir itself stays. The walk goes by
// descriptor: each directory below dir is opened relative to its parent
// and never through a symbolic link, so nothing outside dir can be reached,
// not even when an entry is swapped for a link during the walk. Links are
// removed as entries; directories without write permission get it back.
// On Windows each directory is held open while it is emptied, so that it
// cannot be renamed or replaced, and every entry is checked by handle to
// stand where it is named; files lose their read-only, hidden and system
// attributes before they go; a link the system does not show as one (a
// Unix symbolic link under Wine) is left alone, since deleting it would
// delete its target. Failures are skipped.
void DeleteDirectoryTreeContents(const std::string& dir);

// Clears the read-only attribute: gives the owner write permission back.
// A symbolic link is left alone (its target may lie anywhere).
bool ResetAttributes(const std::string& path);

}  // namespace platform
