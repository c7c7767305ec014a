#include "platform/dir_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

int Fd(DirHandle h) { return static_cast<int>(h); }

int OpenAt(int dir, const char* name, int flags, unsigned mode = 0) {
  int fd;
  do fd = openat(dir, name, flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

DirHandle OpenDirectory(const std::string& path) {
  return path.empty() ? kNoDir : OpenAt(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY);
}

SubdirResult MakeAndOpenSubdirectory(DirHandle parent, const std::string& name, DirHandle& dir) {
  // Made first: in a fresh tree that is the usual case, and it is one call
  // either way.
  mkdirat(Fd(parent), name.c_str(), 0777);
  dir = OpenAt(Fd(parent), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (dir >= 0) return SubdirResult::kOpened;
  if (errno != ELOOP && errno != ENOTDIR) return SubdirResult::kFailed;
  struct stat st;
  const bool link = fstatat(Fd(parent), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
  return link ? SubdirResult::kLink : SubdirResult::kFailed;
}

FileHandle CreateFileReplacingAt(DirHandle dir, const std::string& name, unsigned mode) {
  // O_EXCL never follows a link; whatever is in the way goes, once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = OpenAt(Fd(dir), name.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode & 07777);
    if (fd >= 0 || errno != EEXIST || attempt > 0) return fd;
    if (unlinkat(Fd(dir), name.c_str(), 0) != 0 && errno != ENOENT) return kNoFile;
  }
  return kNoFile;
}

void CloseDirectory(DirHandle dir) {
  if (dir >= 0) close(Fd(dir));
}

}  // namespace platform
