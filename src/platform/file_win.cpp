#include "platform/file.h"

#include <algorithm>

#include "platform/files_win.h"

namespace platform {

namespace {

HANDLE Of(FileHandle h) { return reinterpret_cast<HANDLE>(h); }
FileHandle From(HANDLE h) { return reinterpret_cast<FileHandle>(h); }

// ReadFile and WriteFile count in DWORDs.
constexpr std::size_t kMaxPiece = 1u << 30;

// An existing file opened for writing, refused when it is a link, a
// directory or read-only.
HANDLE OpenExistingForWriting(const std::wstring& p) {
  // Wine shows a Unix symbolic link to a directory as a reparse point only here.
  const DWORD listed = GetFileAttributesW(p.c_str());
  if (listed == INVALID_FILE_ATTRIBUTES ||
      (listed & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) return h;
  const DWORD attributesNow = win::AttributesOf(h);
  // A link (Wine's Unix ones show only in the final path), or a file made
  // read-only since the look above.
  if (attributesNow == INVALID_FILE_ATTRIBUTES ||
      (attributesNow & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY)) || !win::IsEntryOf(h, p)) {
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

}  // namespace

FileHandle OpenFileForReading(const std::string& path) {
  const std::wstring p = win::WidePath(path);
  if (p.empty()) return kNoFile;
  return From(CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr));
}

FileHandle CreateFileForWriting(const std::string& path, unsigned mode) {
  const std::wstring p = win::WidePath(path);
  if (p.empty()) return kNoFile;
  const DWORD attributes = (mode & 0200) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
  // A new file is the usual case and needs one call; CREATE_NEW never follows a link.
  HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, attributes, nullptr);
  if (h != INVALID_HANDLE_VALUE) return From(h);
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return kNoFile;
  h = OpenExistingForWriting(p);
  if (h == INVALID_HANDLE_VALUE) return kNoFile;
  if (GetFileType(h) == FILE_TYPE_DISK && !SetEndOfFile(h)) {
    CloseHandle(h);
    return kNoFile;
  }
  return From(h);
}

FileHandle OpenFileToContinue(const std::string& path, std::uint64_t size) {
  const std::wstring p = win::WidePath(path);
  if (p.empty()) return kNoFile;
  HANDLE h = OpenExistingForWriting(p);
  if (h == INVALID_HANDLE_VALUE) return kNoFile;
  LARGE_INTEGER held{}, at{};
  at.QuadPart = static_cast<LONGLONG>(size);
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &held) || held.QuadPart < at.QuadPart ||
      !SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) {
    CloseHandle(h);
    return kNoFile;
  }
  return From(h);
}

long ReadFileAt(FileHandle h, std::uint64_t pos, void* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>((pos + done) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>((pos + done) >> 32);
    DWORD n = 0;
    if (!ReadFile(Of(h), static_cast<char*>(buffer) + done, static_cast<DWORD>(std::min(size - done, kMaxPiece)), &n,
                  &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  return static_cast<long>(done);
}

bool WriteFileAll(FileHandle h, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD n = 0;
    if (!WriteFile(Of(h), p, static_cast<DWORD>(std::min(size, kMaxPiece)), &n, nullptr) || n == 0) return false;
    p += n;
    size -= n;
  }
  return true;
}

bool GetFileSize(FileHandle h, std::uint64_t& size) {
  LARGE_INTEGER n;
  if (!GetFileSizeEx(Of(h), &n)) return false;
  size = static_cast<std::uint64_t>(n.QuadPart);
  return true;
}

bool IsDiskFile(FileHandle h) { return h != kNoFile && GetFileType(Of(h)) == FILE_TYPE_DISK; }

bool SetFileTimes(FileHandle h, FileTime creation, FileTime access, FileTime modification) {
  FILETIME c, a, m;
  if (!win::ToSystemFileTime(creation, c) || !win::ToSystemFileTime(access, a) ||
      !win::ToSystemFileTime(modification, m)) {
    return false;
  }
  return SetFileTime(Of(h), &c, &a, &m);
}

void CloseFile(FileHandle h) {
  if (h != kNoFile) CloseHandle(Of(h));
}

}  // namespace platform
