#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

int Fd(FileHandle h) { return static_cast<int>(h); }

timespec ToTimespec(FileTime ft) {
  constexpr std::int64_t kTicksPerSecond = 10000000;
  std::int64_t ticks = ft % kTicksPerSecond;
  if (ticks < 0) ticks += kTicksPerSecond;
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(FileTimeToUnixTime(ft));
  ts.tv_nsec = static_cast<long>(ticks * 100);
  return ts;
}

// An existing file opened for writing: never through a link, and a disk
// file only with owner write permission.
int OpenExistingForWriting(const std::string& path, struct stat& st) {
  // O_NONBLOCK: opening a FIFO that nobody reads must not hang.
  const int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))) {
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

FileHandle OpenFileForReading(const std::string& path) {
  int fd;
  // O_NONBLOCK: opening a FIFO that nobody writes must not hang.
  do fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

FileHandle CreateFileForWriting(const std::string& path, unsigned mode) {
  // A new file is the usual case and needs one call; O_EXCL never follows a link.
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777);
  if (fd >= 0 || errno != EEXIST) return fd;
  struct stat st;
  fd = OpenExistingForWriting(path, st);
  if (fd < 0) return kNoFile;
  if (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
    close(fd);
    return kNoFile;
  }
  return fd;
}

FileHandle OpenFileToContinue(const std::string& path, std::uint64_t size) {
  struct stat st;
  const int fd = OpenExistingForWriting(path, st);
  if (fd < 0) return kNoFile;
  const auto at = static_cast<off_t>(size);
  if (!S_ISREG(st.st_mode) || st.st_size < at || ftruncate(fd, at) != 0 || lseek(fd, at, SEEK_SET) != at) {
    close(fd);
    return kNoFile;
  }
  return fd;
}

long ReadFileAt(FileHandle h, std::uint64_t pos, void* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pread(Fd(h), static_cast<char*>(buffer) + done, size - done, static_cast<off_t>(pos + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long>(done);
}

bool WriteFileAll(FileHandle h, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(Fd(h), p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool GetFileSize(FileHandle h, std::uint64_t& size) {
  struct stat st;
  if (fstat(Fd(h), &st) != 0) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool IsDiskFile(FileHandle h) {
  struct stat st;
  return fstat(Fd(h), &st) == 0 && S_ISREG(st.st_mode);
}

bool SetFileTimes(FileHandle h, FileTime /*creation*/, FileTime access, FileTime modification) {
  const timespec times[2] = {ToTimespec(access), ToTimespec(modification)};
  return futimens(Fd(h), times) == 0;
}

void CloseFile(FileHandle h) {
  if (h >= 0) close(Fd(h));
}

}  // namespace platform
