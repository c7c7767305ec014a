// Where the program is and where per-user data belongs.
#pragma once

#include <string>

namespace platform {

// Full path of the running executable; empty when it cannot be read.
std::string GetModuleFileName();

// The per-user local application data folder, without a trailing '/':
// $XDG_DATA_HOME when set and absolute, else $HOME/.local/share, else the
// password database's home + /.local/share. Empty when no usable home is
// found: a home that is relative or the file-system root itself does not
// count, so the data never lands in a directory at the root.
std::string GetLocalAppDataFolder();

}  // namespace platform
