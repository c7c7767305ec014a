// The process's current directory (process-wide: one user at a time).
#pragma once

#include <string>

namespace platform {

// The absolute path of the current directory, of any length; empty when
// it cannot be had (removed, unreachable).
std::string GetCurrentDir();

bool SetCurrentDir(const std::string& path);

}  // namespace platform
