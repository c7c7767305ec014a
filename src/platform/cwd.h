// The process's current directory (process-wide: one user at a time).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The absolute path of the current directory, of any length; empty when
// it cannot be had (removed, unreachable).
std::string GetCurrentDir();

bool SetCurrentDir(const std::string& path);

// The current directory held open, so that the process can return to it:
// on Linux even when its path cannot be read (it was removed or renamed
// meanwhile); on Windows the open handle keeps it from being removed or
// renamed, and the way back is its path.
class SavedCurrentDir {
 public:
  SavedCurrentDir();
  ~SavedCurrentDir();
  SavedCurrentDir(const SavedCurrentDir&) = delete;
  SavedCurrentDir& operator=(const SavedCurrentDir&) = delete;
  bool IsValid() const;
  bool Restore() const;

 private:
  std::intptr_t m_h = -1;  // a descriptor, or a HANDLE
  std::string m_strPath;   // Windows only
};

}  // namespace platform
