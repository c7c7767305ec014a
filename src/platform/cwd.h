// The process's current directory (process-wide: one user at a time).
#pragma once

#include <string>

namespace platform {

// The absolute path of the current directory, of any length; empty when
// it cannot be had (removed, unreachable).
std::string GetCurrentDir();

bool SetCurrentDir(const std::string& path);

// The current directory held open, so that the process can return to it
// even when its path cannot be read (it was removed or renamed meanwhile).
class SavedCurrentDir {
 public:
  SavedCurrentDir();
  ~SavedCurrentDir();
  SavedCurrentDir(const SavedCurrentDir&) = delete;
  SavedCurrentDir& operator=(const SavedCurrentDir&) = delete;
  bool IsValid() const { return m_fd >= 0; }
  bool Restore() const;

 private:
  int m_fd;
};

}  // namespace platform
