#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

bool PathExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool PathIsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathIsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool CreateOneDirectory(const std::string& path) {
  return !path.empty() && mkdir(path.c_str(), 0777) == 0;
}

bool EnumerateDirectory(const std::string& dir, const std::string& pattern,
                        std::vector<DirEntry>& entries) {
  entries.clear();
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  const bool all = pattern == "*.*" || pattern == "*";
  std::string base = dir;
  if (!base.empty() && base.back() != '/') base += '/';
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (!all && fnmatch(pattern.c_str(), e->d_name, FNM_CASEFOLD) != 0) continue;
    bool isDir;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st;
      isDir = lstat((base + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    } else {
      isDir = e->d_type == DT_DIR;
    }
    entries.push_back(DirEntry{e->d_name, isDir});
  }
  closedir(d);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.strName < b.strName; });
  return true;
}

bool DeleteOneFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A kernel or file system without the flag: a new link cannot replace
  // anything either.
  if (link(from.c_str(), to.c_str()) != 0) return false;
  if (unlink(from.c_str()) != 0) {
    unlink(to.c_str());
    return false;
  }
  return true;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

bool SetModificationTime(const std::string& path, std::int64_t t) {
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(t), 0}};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool RemoveEmptyDirectory(const std::string& path) { return rmdir(path.c_str()) == 0; }

std::string MakeTempDirectory(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
  if (path.back() != '/') path += '/';
  path += prefix + "-XXXXXX";
  // mkdtemp makes it 0700, and only when the name was new.
  if (mkdtemp(path.data()) == nullptr) return std::string();
  return path + '/';
}

namespace {

void EmptyOpenDirectory(int fd);

// A directory below the walk's start, opened where it stands: ELOOP or
// ENOTDIR when the entry is a link or no directory (any longer).
int OpenSubdirectory(int parent, const char* name) {
  int fd;
  do fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// Removes one entry of the directory open as parent; bDirectory is what
// the listing said, and the entry may have changed since.
void RemoveEntry(int parent, const char* name, bool bDirectory) {
  if (!bDirectory) {
    if (unlinkat(parent, name, 0) == 0 || errno != EISDIR) return;
  }
  const int fd = OpenSubdirectory(parent, name);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENOTDIR) unlinkat(parent, name, 0);
    else unlinkat(parent, name, AT_REMOVEDIR);  // unreadable, perhaps empty
    return;
  }
  struct stat st;
  // A directory without write permission would keep its entries.
  if (fstat(fd, &st) == 0 && !(st.st_mode & S_IWUSR)) fchmod(fd, (st.st_mode & 07777) | S_IWUSR);
  EmptyOpenDirectory(fd);
  close(fd);
  unlinkat(parent, name, AT_REMOVEDIR);
}

void EmptyOpenDirectory(int fd) {
  // The listing is read to its end before anything goes, so that removing
  // entries cannot make it skip others; its own descriptor goes with it.
  const int listFd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  DIR* d = listFd >= 0 ? fdopendir(listFd) : nullptr;
  if (d == nullptr) {
    if (listFd >= 0) close(listFd);
    return;
  }
  std::vector<std::pair<std::string, bool>> entries;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    entries.emplace_back(e->d_name, e->d_type == DT_DIR || e->d_type == DT_UNKNOWN);
  }
  closedir(d);
  for (const auto& [name, bDirectory] : entries) RemoveEntry(fd, name.c_str(), bDirectory);
}

}  // namespace

void DeleteDirectoryTreeContents(const std::string& dir) {
  int fd;
  do fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return;
  EmptyOpenDirectory(fd);
  close(fd);
}

bool ResetAttributes(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  if (st.st_mode & S_IWUSR) return true;
  return chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

}  // namespace platform
