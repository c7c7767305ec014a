#include "platform/files.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/files_win.h"
#include "platform/text.h"

namespace platform {

namespace win {

bool ToWide(std::string_view ansi, std::wstring& wide) {
  wide.clear();
  if (ansi.empty()) return true;
  if (ansi.find('\0') != std::string_view::npos) return false;
  const int size = static_cast<int>(ansi.size());
  const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide.assign(static_cast<std::size_t>(n), L'\0');
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size, wide.data(), n) == n;
}

bool ToAnsi(std::wstring_view wide, std::string& ansi) {
  ansi.clear();
  if (wide.empty()) return true;
  if (wide.find(L'\0') != std::wstring_view::npos) return false;
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  ansi.assign(static_cast<std::size_t>(n), '\0');
  if (WideCharToMultiByte(CP_ACP, 0, wide.data(), size, ansi.data(), n, nullptr, nullptr) != n) return false;
  // Only the way back tells an exact form from a best fit or a default
  // character, in every code page (UTF-8's too).
  std::wstring back;
  if (!ToWide(ansi, back) || back != wide) {
    ansi.clear();
    return false;
  }
  return true;
}

namespace {

bool StartsWith(std::wstring_view s, std::wstring_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool IsLiteral(std::wstring_view path) { return StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\"); }

// A full path in "\\?\" form.
std::wstring Literal(const std::wstring& full) {
  if (IsLiteral(full)) return full;
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace

std::wstring FullPath(const std::string& path) {
  std::wstring wide;
  if (path.empty() || !ToWide(path, wide)) return std::wstring();
  return Filled([&](WCHAR* buffer, DWORD size) { return GetFullPathNameW(wide.c_str(), size, buffer, nullptr); });
}

std::wstring WidePath(const std::string& path) {
  std::wstring wide;
  if (path.empty() || !ToWide(path, wide)) return std::wstring();
  // The system would normalise even these ("a." to "a").
  if (IsLiteral(wide)) return wide;
  const std::wstring full = FullPath(path);
  return full.empty() ? full : Literal(full);
}

DWORD AttributesOf(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(h, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

namespace {

// The name of the object behind h when it is a DOS one ("\??\C:\..."), in
// "\\?\" form; empty otherwise (Windows names files by their device).
std::wstring DosObjectName(HANDLE h) {
  using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const Query query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  constexpr int kObjectNameInformation = 1;
  struct Name {
    USHORT nLength, nMaximumLength;  // in bytes
    PWSTR pBuffer;
  };
  if (query == nullptr) return std::wstring();
  // No name is longer than a UNICODE_STRING can hold.
  std::vector<unsigned char> buffer(sizeof(Name) + 65536);
  ULONG got = 0;
  if (query(h, kObjectNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &got) != 0) {
    return std::wstring();
  }
  const Name* name = reinterpret_cast<const Name*>(buffer.data());
  if (name->pBuffer == nullptr) return std::wstring();
  const std::wstring text(name->pBuffer, name->nLength / sizeof(WCHAR));
  if (!StartsWith(text, L"\\??\\")) return std::wstring();
  return L"\\\\?\\" + text.substr(4);
}

}  // namespace

std::wstring FinalPathOf(HANDLE h) {
  std::wstring path = Filled([h](WCHAR* buffer, DWORD size) {
    return GetFinalPathNameByHandleW(h, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
  // Wine's answer ends at MAX_PATH, whatever the buffer; its name of the
  // object is the same path, of any length.
  if (path.empty()) path = DosObjectName(h);
  return path.empty() ? path : Literal(path);
}

std::wstring JoinPath(const std::wstring& dir, std::wstring_view name) {
  std::wstring path = dir;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  path += name;
  return path;
}

namespace {

// Names as the file system compares them: without regard to case, by the
// system's own upper-case table.
bool SameName(const std::wstring& a, const std::wstring& b) {
  return a == b || (!a.empty() && CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                                       static_cast<int>(b.size()), TRUE) == CSTR_EQUAL);
}

}  // namespace

bool StandsWhere(HANDLE h, const std::wstring& dir, std::wstring_view name) {
  const std::wstring final = FinalPathOf(h);
  if (final.empty()) return false;
  // The system keeps the case a name was made with. Wine gives the final
  // path of an entry "a." (made by a Unix program) as "a": the same
  // directory.
  std::wstring_view plain = name;
  while (!plain.empty() && (plain.back() == L'.' || plain.back() == L' ')) plain.remove_suffix(1);
  return SameName(final, JoinPath(dir, name)) || (!plain.empty() && SameName(final, JoinPath(dir, plain)));
}

bool IsEntryOf(HANDLE h, const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  if (!StartsWith(path, L"\\\\?\\") || slash == std::wstring::npos || slash + 1 == path.size()) return false;
  std::wstring parent = path.substr(0, slash);
  // "\\?\C:\x" lies in "\\?\C:\", and "\\?\UNC\server\share\x" in the share's root.
  const bool share = StartsWith(parent, L"\\\\?\\UNC\\") && std::count(parent.begin() + 8, parent.end(), L'\\') == 1;
  if (parent.back() == L':' || share) parent += L'\\';
  const HANDLE p = CreateFileW(parent.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (p == INVALID_HANDLE_VALUE) return false;
  const std::wstring parentFinal = FinalPathOf(p);
  CloseHandle(p);
  return !parentFinal.empty() && StandsWhere(h, parentFinal, std::wstring_view(path).substr(slash + 1));
}

bool RemoveNonDirectory(const std::wstring& dir, const std::wstring& name, DWORD listed) {
  const std::wstring path = JoinPath(dir, name);
  if (listed != INVALID_FILE_ATTRIBUTES && (listed & FILE_ATTRIBUTE_REPARSE_POINT)) {
    // A junction or a symbolic link to a directory is a directory entry of its own.
    return (listed & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
  }
  if (listed != INVALID_FILE_ATTRIBUTES && (listed & FILE_ATTRIBUTE_DIRECTORY)) return false;
  const HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
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
    return DeleteFileW(path.c_str());
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
  return DeleteFileW(path.c_str());
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
HANDLE OpenFollowing(const std::wstring& path) {
  return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

DWORD AttributesAt(const std::wstring& path) {
  return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
}

}  // namespace

bool PathExists(const std::string& path) {
  const std::wstring p = win::WidePath(path);
  const DWORD a = AttributesAt(p);
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  const HANDLE h = OpenFollowing(p);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool PathIsDirectory(const std::string& path) {
  const std::wstring p = win::WidePath(path);
  const DWORD a = AttributesAt(p);
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const HANDLE h = OpenFollowing(p);
  if (h == INVALID_HANDLE_VALUE) return false;
  const DWORD target = win::AttributesOf(h);
  CloseHandle(h);
  return target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathIsLink(const std::string& path) {
  const DWORD a = AttributesAt(win::WidePath(path));
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool CreateOneDirectory(const std::string& path) {
  const std::wstring p = win::WidePath(path);
  return !p.empty() && CreateDirectoryW(p.c_str(), nullptr);
}

bool EnumerateDirectory(const std::string& dir, const std::string& pattern, std::vector<DirEntry>& entries) {
  entries.clear();
  if (dir.empty()) return false;  // not the root of the current drive
  const std::wstring wideDir = win::WidePath(dir);
  std::wstring widePattern;
  if (wideDir.empty() || !win::ToWide(pattern, widePattern)) return false;
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW(win::JoinPath(wideDir, widePattern).c_str(), &data);
  // Nothing that matches, in a directory that is there, is an empty list.
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND && PathIsDirectory(dir);
  do {
    const std::wstring_view name = data.cFileName;
    std::string ansi;
    // A name that has no ANSI form is of no use to a caller: any spelling
    // it could be given would name another entry, or none.
    if (name == L"." || name == L".." || !win::ToAnsi(name, ansi)) continue;
    const bool bDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                            !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    entries.push_back(DirEntry{std::move(ansi), bDirectory});
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.strName < b.strName; });
  return true;
}

bool DeleteOneFile(const std::string& path) {
  const std::wstring p = win::WidePath(path);
  return !p.empty() && DeleteFileW(p.c_str());
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  // MoveFileW never replaces, but a move onto the file's own name, or onto
  // another spelling of it ("SETUP.EXE" for "setup.exe"), succeeds.
  const std::wstring f = win::WidePath(from), t = win::WidePath(to);
  if (f.empty() || t.empty() || AttributesAt(t) != INVALID_FILE_ATTRIBUTES) return false;
  return MoveFileW(f.c_str(), t.c_str());
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  const std::wstring f = win::WidePath(from), t = win::WidePath(to);
  return !f.empty() && !t.empty() && MoveFileExW(f.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool SetModificationTime(const std::string& path, std::int64_t t) {
  constexpr std::int64_t kTicksPerSecond = 10000000;
  constexpr std::int64_t kEpochDifference = 11644473600;  // seconds from 1601 to 1970
  if (t < -kEpochDifference || t > INT64_MAX / kTicksPerSecond - kEpochDifference) return false;
  FILETIME modification;
  if (!win::ToSystemFileTime((t + kEpochDifference) * kTicksPerSecond, modification)) return false;
  const std::wstring p = win::WidePath(path);
  if (p.empty()) return false;
  const HANDLE h = CreateFileW(p.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = SetFileTime(h, nullptr, nullptr, &modification);
  CloseHandle(h);
  return ok;
}

bool RemoveEmptyDirectory(const std::string& path) {
  const std::wstring p = win::WidePath(path);
  return !p.empty() && RemoveDirectoryW(p.c_str());
}

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

// The walk goes by wide names from end to end: an entry whose name has no
// ANSI form goes as well.
void EmptyDirectory(const std::wstring& dir);

// Removes one entry of dir (a directory held open, by its final path).
// listed is what the listing said; the entry may have changed since.
void RemoveEntry(const std::wstring& dir, const std::wstring& name, DWORD listed) {
  if (!(listed & FILE_ATTRIBUTE_DIRECTORY) || (listed & FILE_ATTRIBUTE_REPARSE_POINT)) {
    win::RemoveNonDirectory(dir, name, listed);
    return;
  }
  const std::wstring path = win::JoinPath(dir, name);
  // Held open without FILE_SHARE_DELETE while it is emptied: nobody can
  // rename it or put a link in its place meanwhile.
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    RemoveDirectoryW(path.c_str());  // unreadable, perhaps empty
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
  EmptyDirectory(path);
  CloseHandle(h);
  RemoveDirectoryW(path.c_str());
}

void EmptyDirectory(const std::wstring& dir) {
  // The listing is read to its end before anything goes, so that removing
  // entries cannot make it skip others.
  std::vector<std::pair<std::wstring, DWORD>> entries;
  WIN32_FIND_DATAW data;
  const HANDLE find = FindFirstFileW(win::JoinPath(dir, L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring_view name = data.cFileName;
    if (name != L"." && name != L"..") entries.emplace_back(name, data.dwFileAttributes);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  for (const auto& [name, listed] : entries) RemoveEntry(dir, name, listed);
}

}  // namespace

void DeleteDirectoryTreeContents(const std::string& dir) {
  const std::wstring p = win::WidePath(dir);
  if (p.empty()) return;
  // Links in dir itself are followed: the caller chose it.
  const HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  const DWORD attributes = win::AttributesOf(h);
  const std::wstring final = win::FinalPathOf(h);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) && !final.empty()) {
    EmptyDirectory(final);
  }
  CloseHandle(h);
}

bool ResetAttributes(const std::string& path) {
  const std::wstring p = win::WidePath(path);
  const DWORD a = AttributesAt(p);
  if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  if (!(a & FILE_ATTRIBUTE_READONLY)) return true;
  constexpr DWORD kSettable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                              FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY;
  const DWORD kept = a & kSettable;
  return SetFileAttributesW(p.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
}

}  // namespace platform
