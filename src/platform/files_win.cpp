#include "platform/files.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/files_win.h"
#include "platform/path.h"
#include "platform/text.h"

namespace platform {

namespace win {

DWORD AttributesOf(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(h, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

std::string FinalPathOf(HANDLE h) {
  std::string buf(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD n = GetFinalPathNameByHandleA(h, buf.data(), static_cast<DWORD>(buf.size()),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return std::string();
    if (n < buf.size()) {
      buf.resize(n);
      if (buf.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + buf.substr(8);
      if (buf.rfind("\\\\?\\", 0) == 0) return buf.substr(4);
      return buf;
    }
    buf.assign(n, '\0');  // n counts the terminating zero then
  }
  return std::string();
}

std::string JoinPath(const std::string& dir, std::string_view name) {
  std::string path = dir;
  if (!EndsWithSeparator(path)) path += '\\';
  path += name;
  return path;
}

std::string LiteralPath(const std::string& path) {
  if (path.rfind("\\\\", 0) == 0) {
    if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\\\.\\", 0) == 0) return path;
    return "\\\\?\\UNC\\" + path.substr(2);
  }
  return "\\\\?\\" + path;
}

namespace {

// Names as the file system compares them: without regard to case, by the
// system's own upper-case table.
bool SameName(const std::string& a, const std::string& b) {
  if (a == b) return true;
  auto wide = [](const std::string& s) {
    std::wstring w(s.size(), L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), static_cast<int>(w.size()));
    w.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return w;
  };
  const std::wstring wa = wide(a), wb = wide(b);
  return !wa.empty() && CompareStringOrdinal(wa.data(), static_cast<int>(wa.size()), wb.data(),
                                             static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

bool StandsWhere(HANDLE h, const std::string& dir, std::string_view name) {
  const std::string final = FinalPathOf(h);
  if (final.empty()) return false;
  // The system keeps the case a name was made with. Wine gives the final
  // path of an entry "a." (made by a Unix program) as "a": the same
  // directory.
  std::string_view plain = name;
  while (!plain.empty() && (plain.back() == '.' || plain.back() == ' ')) plain.remove_suffix(1);
  return SameName(final, JoinPath(dir, name)) || (!plain.empty() && SameName(final, JoinPath(dir, plain)));
}

std::string FullPath(const std::string& path) {
  if (path.empty()) return std::string();
  std::string full(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return std::string();
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.assign(n, '\0');  // n counts the terminating zero then
  }
  return std::string();
}

bool IsEntryOf(HANDLE h, const std::string& path) {
  const std::string full = FullPath(path);
  const std::size_t slash = ReverseFindSeparator(full);
  if (slash == npos || slash + 1 == full.size()) return false;
  std::string parent = full.substr(0, slash);
  if (parent.empty() || parent.back() == ':') parent += '\\';  // "C:\x" lies in "C:\"
  const HANDLE p = CreateFileA(parent.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (p == INVALID_HANDLE_VALUE) return false;
  const std::string parentFinal = FinalPathOf(p);
  CloseHandle(p);
  return !parentFinal.empty() && StandsWhere(h, parentFinal, std::string_view(full).substr(slash + 1));
}

bool RemoveNonDirectory(const std::string& dir, const std::string& name, DWORD listed) {
  const std::string path = LiteralPath(JoinPath(dir, name));
  if (listed != INVALID_FILE_ATTRIBUTES && (listed & FILE_ATTRIBUTE_REPARSE_POINT)) {
    // A junction or a symbolic link to a directory is a directory entry of its own.
    return (listed & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path.c_str()) : DeleteFileA(path.c_str());
  }
  if (listed != INVALID_FILE_ATTRIBUTES && (listed & FILE_ATTRIBUTE_DIRECTORY)) return false;
  const HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const DWORD attributes = AttributesOf(h);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(h);
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    CloseHandle(h);
    return DeleteFileA(path.c_str());
  }
  if (!StandsWhere(h, dir, name)) {
    CloseHandle(h);
    return false;
  }
  // The read-only attribute goes first, or the file could not be deleted;
  // on the file that was checked, not on whatever the name means later.
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
  }
  CloseHandle(h);
  return DeleteFileA(path.c_str());
}

bool ToSystemFileTime(FileTime ft, FILETIME& out) {
  // 0 is the system's "leave it as it is".
  if (ft <= 0) return false;
  out.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ft) & 0xFFFFFFFFu);
  out.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ft) >> 32);
  return true;
}

}  // namespace win

namespace {

// Opens what path names, through links.
HANDLE OpenFollowing(const std::string& path) {
  return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

bool PathExists(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  const HANDLE h = OpenFollowing(path);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool PathIsDirectory(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const HANDLE h = OpenFollowing(path);
  if (h == INVALID_HANDLE_VALUE) return false;
  const DWORD target = win::AttributesOf(h);
  CloseHandle(h);
  return target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathIsLink(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool CreateOneDirectory(const std::string& path) {
  return !path.empty() && CreateDirectoryA(path.c_str(), nullptr);
}

bool EnumerateDirectory(const std::string& dir, const std::string& pattern, std::vector<DirEntry>& entries) {
  entries.clear();
  if (dir.empty()) return false;  // not the root of the current drive
  WIN32_FIND_DATAA data;
  const HANDLE find = FindFirstFileA(win::JoinPath(dir, pattern).c_str(), &data);
  // Nothing that matches, in a directory that is there, is an empty list.
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND && PathIsDirectory(dir);
  do {
    const std::string_view name = data.cFileName;
    if (name == "." || name == "..") continue;
    const bool bDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                            !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    entries.push_back(DirEntry{std::string(name), bDirectory});
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.strName < b.strName; });
  return true;
}

bool DeleteOneFile(const std::string& path) { return DeleteFileA(path.c_str()); }

bool RenameNoReplace(const std::string& from, const std::string& to) {
  // MoveFileA never replaces, but a move onto the file's own name, or onto
  // another spelling of it ("SETUP.EXE" for "setup.exe"), succeeds.
  if (from.empty() || to.empty() || GetFileAttributesA(to.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  return MoveFileA(from.c_str(), to.c_str());
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool SetModificationTime(const std::string& path, std::int64_t t) {
  constexpr std::int64_t kTicksPerSecond = 10000000;
  constexpr std::int64_t kEpochDifference = 11644473600;  // seconds from 1601 to 1970
  if (t < -kEpochDifference || t > INT64_MAX / kTicksPerSecond - kEpochDifference) return false;
  FILETIME modification;
  if (!win::ToSystemFileTime((t + kEpochDifference) * kTicksPerSecond, modification)) return false;
  const HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = SetFileTime(h, nullptr, nullptr, &modification);
  CloseHandle(h);
  return ok;
}

bool RemoveEmptyDirectory(const std::string& path) { return RemoveDirectoryA(path.c_str()); }

std::string MakeTempDirectory(const std::string& prefix) {
  char buf[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof buf, buf);
  if (n == 0 || n > MAX_PATH) return std::string();
  std::string base(buf, n);
  if (base.back() != '\\') base += '\\';
  // CreateDirectoryA fails on a name that exists: a few tries with other names.
  const std::uint64_t seed = GetTickCount64() ^ (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32);
  for (std::uint64_t i = 0; i < 100; ++i) {
    const std::string path = base + prefix + "-" + Format("%llx", static_cast<unsigned long long>(seed + i));
    if (CreateDirectoryA(path.c_str(), nullptr)) return path + '\\';
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  }
  return std::string();
}

namespace {

void EmptyDirectory(const std::string& dir);

// Removes one entry of dir (a directory held open, by its final path).
// listed is what the listing said; the entry may have changed since.
void RemoveEntry(const std::string& dir, const std::string& name, DWORD listed) {
  if (!(listed & FILE_ATTRIBUTE_DIRECTORY) || (listed & FILE_ATTRIBUTE_REPARSE_POINT)) {
    win::RemoveNonDirectory(dir, name, listed);
    return;
  }
  const std::string path = win::LiteralPath(win::JoinPath(dir, name));
  // Held open without FILE_SHARE_DELETE while it is emptied: nobody can
  // rename it or put a link in its place meanwhile.
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    RemoveDirectoryA(path.c_str());  // unreadable, perhaps empty
    return;
  }
  const DWORD attributes = win::AttributesOf(h);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    CloseHandle(h);
    win::RemoveNonDirectory(dir, name, attributes);  // no directory (any longer)
    return;
  }
  if (!win::StandsWhere(h, dir, name)) {
    // A link that the system does not show as one: never gone through.
    CloseHandle(h);
    return;
  }
  EmptyDirectory(win::JoinPath(dir, name));
  CloseHandle(h);
  RemoveDirectoryA(path.c_str());
}

void EmptyDirectory(const std::string& dir) {
  // The listing is read to its end before anything goes, so that removing
  // entries cannot make it skip others.
  std::vector<std::pair<std::string, DWORD>> entries;
  WIN32_FIND_DATAA data;
  const HANDLE find = FindFirstFileA(win::LiteralPath(win::JoinPath(dir, "*")).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string_view name = data.cFileName;
    if (name != "." && name != "..") entries.emplace_back(name, data.dwFileAttributes);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  for (const auto& [name, listed] : entries) RemoveEntry(dir, name, listed);
}

}  // namespace

void DeleteDirectoryTreeContents(const std::string& dir) {
  if (dir.empty()) return;
  // Links in dir itself are followed: the caller chose it.
  const HANDLE h = CreateFileA(dir.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  const DWORD attributes = win::AttributesOf(h);
  const std::string final = win::FinalPathOf(h);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) && !final.empty()) {
    EmptyDirectory(final);
  }
  CloseHandle(h);
}

bool ResetAttributes(const std::string& path) {
  const DWORD a = GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  if (!(a & FILE_ATTRIBUTE_READONLY)) return true;
  constexpr DWORD kSettable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                              FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY;
  const DWORD kept = a & kSettable;
  return SetFileAttributesA(path.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
}

}  // namespace platform
