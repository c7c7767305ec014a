#include "platform/dir_handle.h"

#include <new>
#include <utility>

#include "platform/files_win.h"
#include "platform/path.h"
#include "platform/text.h"

namespace platform {

namespace {

// A directory held open without FILE_SHARE_DELETE, so that nobody can
// rename it or put a link in its place while entries are made in it by
// its path.
struct OpenDir {
  HANDLE h;
  std::wstring strPath;  // its final path, in "\\?\" form
};

OpenDir* Of(DirHandle dir) { return dir == kNoDir ? nullptr : reinterpret_cast<OpenDir*>(dir); }

HANDLE OpenDirectoryEntry(const std::wstring& path, DWORD flags) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

DirHandle Hold(HANDLE h, std::wstring path) {
  OpenDir* d = new (std::nothrow) OpenDir{h, std::move(path)};
  if (d == nullptr) {
    CloseHandle(h);
    return kNoDir;
  }
  return reinterpret_cast<DirHandle>(d);
}

bool IsDeviceName(std::string_view name) {
  // The part before the first '.' and any blanks before it: "nul.txt" and
  // "COM1 .log" open devices too.
  std::string base = ToLower(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" || base == "conout$") {
    return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
         base[3] >= '0' && base[3] <= '9';
}

// A name that Windows stores as it stands, as one entry of a directory:
// no separator, no stream (':'), no wildcard or other character that no
// name may hold, no blank or '.' at its end (the system would drop it) and
// no device.
bool IsStorableName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ') return false;
  for (std::size_t i = 0; i < name.size(); i += MbCharLength(name, i)) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (MbCharLength(name, i) == 1 && (c < 0x20 || std::string_view("\\/:*?\"<>|").find(name[i]) != npos)) return false;
  }
  return !IsDeviceName(name);
}

DWORD AttributesFromMode(unsigned mode) {
  return (mode & 0200) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

}  // namespace

DirHandle OpenDirectory(const std::string& path) {
  const std::wstring p = win::WidePath(path);
  if (p.empty()) return kNoDir;
  // Links in path are followed: the caller chose it.
  const HANDLE h = OpenDirectoryEntry(p, 0);
  if (h == INVALID_HANDLE_VALUE) return kNoDir;
  const DWORD attributes = win::AttributesOf(h);
  std::wstring final = win::FinalPathOf(h);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) || final.empty()) {
    CloseHandle(h);
    return kNoDir;
  }
  return Hold(h, std::move(final));
}

SubdirResult MakeAndOpenSubdirectory(DirHandle parent, const std::string& name, DirHandle& dir) {
  dir = kNoDir;
  const OpenDir* p = Of(parent);
  std::wstring wide;
  if (p == nullptr || !IsStorableName(name) || !win::ToWide(name, wide)) return SubdirResult::kFailed;
  const std::wstring path = win::JoinPath(p->strPath, wide);
  CreateDirectoryW(path.c_str(), nullptr);
  // Wine shows a Unix symbolic link to a directory as a reparse point in a
  // listing only, not by handle.
  const DWORD listed = GetFileAttributesW(path.c_str());
  if (listed == INVALID_FILE_ATTRIBUTES) return SubdirResult::kFailed;
  if (listed & FILE_ATTRIBUTE_REPARSE_POINT) return SubdirResult::kLink;
  const HANDLE h = OpenDirectoryEntry(path, FILE_FLAG_OPEN_REPARSE_POINT);
  if (h == INVALID_HANDLE_VALUE) return SubdirResult::kFailed;
  const DWORD attributes = win::AttributesOf(h);
  SubdirResult result = SubdirResult::kOpened;
  if (attributes == INVALID_FILE_ATTRIBUTES || GetFileType(h) != FILE_TYPE_DISK) {
    result = SubdirResult::kFailed;
  } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !win::StandsWhere(h, p->strPath, wide)) {
    result = SubdirResult::kLink;
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    result = SubdirResult::kFailed;
  }
  if (result != SubdirResult::kOpened) {
    CloseHandle(h);
    return result;
  }
  dir = Hold(h, path);
  return dir == kNoDir ? SubdirResult::kFailed : SubdirResult::kOpened;
}

FileHandle CreateFileReplacingAt(DirHandle dir, const std::string& name, unsigned mode) {
  const OpenDir* d = Of(dir);
  std::wstring wide;
  if (d == nullptr || !IsStorableName(name) || !win::ToWide(name, wide)) return kNoFile;
  const std::wstring path = win::JoinPath(d->strPath, wide);
  // CREATE_NEW never follows a link; whatever is in the way goes, once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                 AttributesFromMode(mode), nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      if (GetFileType(h) == FILE_TYPE_DISK && win::StandsWhere(h, d->strPath, wide)) return reinterpret_cast<FileHandle>(h);
      CloseHandle(h);
      return kNoFile;
    }
    const DWORD error = GetLastError();
    if (attempt > 0 || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)) return kNoFile;
    if (!win::RemoveNonDirectory(d->strPath, wide, GetFileAttributesW(path.c_str()))) return kNoFile;
  }
  return kNoFile;
}

void CloseDirectory(DirHandle dir) {
  OpenDir* d = Of(dir);
  if (d == nullptr) return;
  CloseHandle(d->h);
  delete d;
}

}  // namespace platform
