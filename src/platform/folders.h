// Where the program is and where per-user data belongs.
#pragma once

#include <string>

namespace platform {

// Full path of the running executable, of any length; empty when it
// cannot be read.
std::string GetModuleFileName();

// The per-user local application data folder, without a trailing
// separator: $XDG_DATA_HOME when set and absolute, else $HOME/.local/share,
// else the password database's home + /.local/share; on Windows
// SHGetFolderPathA(CSIDL_LOCAL_APPDATA). Empty when no usable folder is
// found: one that is relative or the root itself (of the file system, of
// a drive) does not count, so the data never lands in a directory at the
// root.
std::string GetLocalAppDataFolder();

// Where the launcher named appName keeps the log of its last run:
// $XDG_STATE_HOME/appName/last-run.log (its fallbacks as for the data
// folder, with .local/state); on Windows LOCALAPPDATA\appName-last-run.log,
// beside the data directory, which every update check empties. Empty when
// there is no usable folder.
std::string GetLastRunLogPath(const std::string& appName);

}  // namespace platform
