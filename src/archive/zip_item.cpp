#include "archive/zip_item.h"

#include <algorithm>
#include <new>
#include <vector>

#include "platform/cwd.h"
#include "platform/file.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

std::uint32_t Le16(const unsigned char* p) { return p[0] | static_cast<std::uint32_t>(p[1]) << 8; }

std::uint32_t Le32(const unsigned char* p) {
  return Le16(p) | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Times from the first "UT" block of a local extra field. No value is read
// past the end of the block or of the field.
void ApplyExtendedTimes(const unsigned char* extra, std::size_t length, ZipItem& item) {
  if (length <= 4) return;
  std::size_t pos = 0;
  while (pos + 4 < length) {
    if (extra[pos] == 'U' && extra[pos + 1] == 'T') break;
    pos += 4 + Le16(extra + pos + 2);
  }
  if (pos + 4 >= length) return;
  const std::size_t end = std::min(length, pos + 4 + Le16(extra + pos + 2));
  if (pos + 5 > end) return;
  const unsigned flags = extra[pos + 4];
  std::size_t at = pos + 5;
  platform::FileTime* targets[] = {&item.m_tModification, &item.m_tAccess, &item.m_tCreation};
  for (int bit = 0; bit < 3; ++bit) {
    if (!(flags & (1u << bit))) continue;
    if (at + 4 > end) break;
    const std::int32_t t = static_cast<std::int32_t>(Le32(extra + at));
    at += 4;
    if (!platform::UnixTimeToFileTime(t, *targets[bit])) *targets[bit] = platform::CurrentFileTime();
  }
}

bool IsReadable(ZipHandle* handle) {
  return handle != nullptr && handle->m_nMode == kZipHandleModeRead && handle->m_pReader != nullptr &&
         handle->m_pReader->m_pArchive != nullptr;
}

bool InRange(ZipArchive* archive, std::int32_t index) {
  return index >= 0 && static_cast<std::uint32_t>(index) < archive->m_nEntryCount;
}

// Copies the archive's open entry into out and, when it all went well and
// stamp is set, gives out the item's times. ZI_WRITE when a read or a write
// fails, or when the data is not the stored data: a damaged stream, data
// that ends early or bytes that do not match the CRC-32 must not pass for a
// written file.
std::uint32_t CopyOpenEntry(ZipReader* r, const ZipItem& item, platform::FileHandle out, bool stamp) {
  ZipArchive* a = r->m_pArchive;
  if (r->m_pCopyBuffer == nullptr) r->m_pCopyBuffer.reset(new (std::nothrow) unsigned char[kZipCopyBufferSize]);
  unsigned char* buffer = r->m_pCopyBuffer.get();
  if (buffer == nullptr) return ZI_WRITE;
  std::uint32_t crc = crc32(0, nullptr, 0);
  std::uint64_t count = 0;
  for (;;) {
    const int n = ReadEntry(a, buffer, kZipCopyBufferSize);
    if (n < 0) return ZI_WRITE;
    if (n == 0) break;
    crc = crc32(crc, buffer, static_cast<uInt>(n));
    count += static_cast<std::uint32_t>(n);
    if (!platform::WriteFileAll(out, buffer, static_cast<std::size_t>(n))) return ZI_WRITE;
  }
  if (count != a->m_record.m_nUncompressedSize || crc != a->m_record.m_nCrc32) return ZI_WRITE;
  if (stamp) platform::SetFileTimes(out, item.m_tCreation, item.m_tAccess, item.m_tModification);
  return ZI_OK;
}

// Releases the directories held open below the root, from level keep on
// (0: the root as well).
void CloseDirectories(ZipReader* r, std::size_t keep) {
  while (r->m_dirHandles.size() > keep) {
    platform::CloseDirectory(r->m_dirHandles.back());
    r->m_dirHandles.pop_back();
  }
  r->m_dirNames.resize(r->m_dirHandles.empty() ? 0 : r->m_dirHandles.size() - 1);
}

// Makes and opens the directories of dirPath (a stored name with '/'
// separators and no climbing) below the root, keeping what the last item's
// path had in common with it. The deepest one's handle, or kNoDir with
// bLink set when a symbolic link stood in the way.
platform::DirHandle EnterDirectories(ZipReader* r, std::string_view dirPath, bool& bLink) {
  bLink = false;
  if (r->m_dirHandles.empty()) {
    const platform::DirHandle root = platform::OpenDirectory(r->m_strRootDir);
    if (root == platform::kNoDir) return platform::kNoDir;
    r->m_dirHandles.push_back(root);
  }
  std::vector<std::string_view> parts;
  for (std::size_t start = 0; start < dirPath.size();) {
    std::size_t slash = dirPath.find('/', start);
    if (slash == std::string_view::npos) slash = dirPath.size();
    const std::string_view part = dirPath.substr(start, slash - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    start = slash + 1;
  }
  std::size_t same = 0;
  while (same < parts.size() && same < r->m_dirNames.size() && r->m_dirNames[same] == parts[same]) ++same;
  CloseDirectories(r, same + 1);
  for (std::size_t i = same; i < parts.size(); ++i) {
    platform::DirHandle dir = platform::kNoDir;
    const std::string name(parts[i]);
    const platform::SubdirResult res = platform::MakeAndOpenSubdirectory(r->m_dirHandles.back(), name, dir);
    if (res != platform::SubdirResult::kOpened) {
      bLink = res == platform::SubdirResult::kLink;
      return platform::kNoDir;
    }
    r->m_dirHandles.push_back(dir);
    r->m_dirNames.push_back(name);
  }
  return r->m_dirHandles.back();
}

}  // namespace

std::uint32_t ZipAttributesFromExternal(std::uint32_t x) {
  std::uint32_t a = FILE_ATTRIBUTE_NORMAL;
  if (x & 0x40000000u || x & 0x10u) a = FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_DIRECTORY;
  if (x & 0x20u) a |= FILE_ATTRIBUTE_ARCHIVE;
  if (x & 0x02u) a |= FILE_ATTRIBUTE_HIDDEN;
  if (!(x & 0x00800000u) || x & 0x01u) a |= FILE_ATTRIBUTE_READONLY;
  if (x & 0x04u) a |= FILE_ATTRIBUTE_SYSTEM;
  return a;
}

unsigned ZipFileMode(std::uint32_t external, std::uint32_t attributes) {
  const unsigned unixMode = external >> 16;
  // Set-id and sticky bits never come from an archive.
  unsigned mode = unixMode != 0 ? unixMode & 0777 : 0666;
  if (attributes & FILE_ATTRIBUTE_READONLY) mode &= ~0222u;
  return mode;
}

std::string ItemNameToPath(std::string_view name) { return platform::MbReplace(name, '\\', '/'); }

bool IsUnsafeItemName(std::string_view name) {
  const std::string path = ItemNameToPath(name);
  if (!path.empty() && path[0] == '/') return true;
  if (path.size() >= 2 && path[1] == ':') return true;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (path.compare(start, slash - start, "..") == 0) return true;
    start = slash + 1;
  }
  return false;
}

bool PassesThroughLink(const std::string& root, std::string_view name) {
  const std::string path = ItemNameToPath(name);
  for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    if (slash > 0 && platform::PathIsLink(root + platform::NativePath(path.substr(0, slash)))) return true;
  }
  return false;
}

void CreateItemDirectory(const char* root, const char* dir) {
  if (root == nullptr || dir == nullptr || *dir == '\0') return;
  const std::string d = ItemNameToPath(dir);
  // Nothing is made outside the root because of a stored name.
  if (IsUnsafeItemName(d) || PassesThroughLink(root, d + "/")) return;
  std::size_t slash = d.rfind('/');
  if (slash != std::string::npos && slash != 0) CreateItemDirectory(root, d.substr(0, slash).c_str());
  platform::CreateOneDirectory(std::string(root) + platform::NativePath(d));
}

ZipHandle* ZipOpenFile(const char* path) {
  ZipReader* reader = new (std::nothrow) ZipReader;
  if (reader == nullptr) return nullptr;
  reader->m_strRootDir = platform::GetCurrentDir();
  // Without a current directory the root would become "/".
  if (reader->m_strRootDir.empty()) {
    delete reader;
    return nullptr;
  }
  if (!platform::EndsWithSeparator(reader->m_strRootDir)) reader->m_strRootDir += platform::kPathSeparator;
  ZipSource* source = OpenSource(path);
  reader->m_pArchive = source ? OpenArchive(source) : nullptr;
  ZipHandle* handle = reader->m_pArchive ? new (std::nothrow) ZipHandle : nullptr;
  if (handle == nullptr) {
    CloseArchive(reader->m_pArchive);
    delete reader;
    return nullptr;
  }
  handle->m_nMode = kZipHandleModeRead;
  handle->m_pReader = reader;
  return handle;
}

std::uint32_t ZipGetItem(ZipHandle* handle, std::int32_t index, ZipItem* item) {
  if (handle == nullptr || handle->m_nMode != kZipHandleModeRead) return ZI_MODE;
  if (!IsReadable(handle) || item == nullptr) return ZI_ARGS;
  ZipReader* r = handle->m_pReader;
  ZipArchive* a = r->m_pArchive;
  if (index < -1 || (index >= 0 && !InRange(a, index))) return ZI_ARGS;
  if (index != -1 && index == r->m_nCachedIndex) {
    *item = r->m_cachedItem;
    return ZI_OK;
  }
  if (index == -1) {
    *item = ZipItem{};
    item->m_nIndex = static_cast<std::int32_t>(a->m_nEntryCount);
    return ZI_OK;
  }
  if (GoToEntry(a, static_cast<std::uint32_t>(index)) != ZA_OK) return ZI_CORRUPT;
  ZipItem it;
  ZipCentralRecord c;
  if (ReadCentralRecord(a, &c, nullptr, it.m_szName, kZipItemNameSize) != ZA_OK) return ZI_CORRUPT;
  // The name must fit the record with its terminating zero.
  if (c.m_nNameLength >= kZipItemNameSize) return ZI_CORRUPT;
  std::uint32_t extraPos = 0, extraLength = 0;
  if (CheckLocalHeader(a, nullptr, &extraPos, &extraLength) != ZA_OK) return ZI_CORRUPT;
  std::vector<unsigned char> extra(extraLength);
  if (extraLength > 0 &&
      SourceReadAt(a->m_pSource, static_cast<std::uint64_t>(a->m_nPrefixLength) + extraPos, extra.data(),
                   extraLength) != ZA_OK) {
    return ZI_READ;
  }
  it.m_nIndex = static_cast<std::int32_t>(a->m_nCurrentIndex);
  it.m_nAttributes = ZipAttributesFromExternal(c.m_nExternalAttributes);
  it.m_nCompressedSize = c.m_nCompressedSize;
  it.m_nUncompressedSize = c.m_nUncompressedSize;
  platform::FileTime dos = 0;
  // An impossible MS-DOS date (month 0, say) counts as the format's first instant.
  if (!platform::DosDateTimeToFileTime(static_cast<std::uint16_t>(c.m_nDosDateTime >> 16),
                                       static_cast<std::uint16_t>(c.m_nDosDateTime & 0xFFFF), dos)) {
    platform::DosDateTimeToFileTime(0x21, 0, dos);
  }
  it.m_tAccess = it.m_tCreation = it.m_tModification = dos;
  ApplyExtendedTimes(extra.data(), extra.size(), it);
  *item = it;
  r->m_cachedItem = it;
  r->m_nCachedIndex = it.m_nIndex;
  return ZI_OK;
}

namespace {

// The checks and the look-up that an extraction starts with.
std::uint32_t ItemToExtract(ZipHandle* handle, std::int32_t index, ZipItem& item) {
  if (handle == nullptr || handle->m_nMode != kZipHandleModeRead) return ZI_MODE;
  if (!IsReadable(handle)) return ZI_ARGS;
  ZipArchive* a = handle->m_pReader->m_pArchive;
  if (!InRange(a, index)) return ZI_ARGS;
  if (GoToEntry(a, static_cast<std::uint32_t>(index)) != ZA_OK) return ZI_CORRUPT;
  return ZipGetItem(handle, index, &item);
}

// Writes the current entry into the file that create(mode) makes. The
// entry is opened first: one that cannot be read (encrypted, say) leaves
// no empty file behind.
template <typename Create>
std::uint32_t WriteItemFile(ZipReader* r, const ZipItem& item, Create create) {
  ZipArchive* a = r->m_pArchive;
  if (OpenEntry(a) != ZA_OK) return ZI_WRITE;
  bool bDiskFile = false;
  const platform::FileHandle out = create(ZipFileMode(a->m_record.m_nExternalAttributes, item.m_nAttributes), bDiskFile);
  if (out == platform::kNoFile) {
    CloseEntry(a);
    return ZI_NOFILE;
  }
  const std::uint32_t rc = CopyOpenEntry(r, item, out, bDiskFile);
  platform::CloseFile(out);
  CloseEntry(a);
  return rc;
}

}  // namespace

std::uint32_t ZipExtractItem(ZipHandle* handle, std::int32_t index, const char* target) {
  ZipItem item;
  if (std::uint32_t rc = ItemToExtract(handle, index, item); rc != ZI_OK) return rc;
  if (target == nullptr) return ZI_ARGS;
  ZipReader* r = handle->m_pReader;

  if (item.m_nAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (IsUnsafeItemName(item.m_szName)) return ZI_NOFILE;
    CreateItemDirectory(r->m_strRootDir.c_str(), item.m_szName);
    return ZI_OK;
  }

  const std::string path = ItemNameToPath(target);
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos) {
    const std::string dir = path.substr(0, slash);
    if (!IsUnsafeItemName(dir)) CreateItemDirectory(r->m_strRootDir.c_str(), dir.c_str());
  }
  return WriteItemFile(r, item, [&](unsigned mode, bool& bDiskFile) {
    const platform::FileHandle out = platform::CreateFileForWriting(platform::NativePath(path), mode);
    bDiskFile = out != platform::kNoFile && platform::IsDiskFile(out);
    return out;
  });
}

std::uint32_t ZipExtractItemBelowRoot(ZipHandle* handle, std::int32_t index) {
  ZipItem item;
  if (std::uint32_t rc = ItemToExtract(handle, index, item); rc != ZI_OK) return rc;
  if (IsUnsafeItemName(item.m_szName)) return ZI_NOFILE;
  ZipReader* r = handle->m_pReader;

  const std::string path = ItemNameToPath(item.m_szName);
  const bool isDirectory = (item.m_nAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::size_t slash = path.rfind('/');
  std::string_view dirPath = path;
  if (!isDirectory) dirPath = slash == std::string::npos ? std::string_view() : dirPath.substr(0, slash);
  bool bLink = false;
  const platform::DirHandle dir = EnterDirectories(r, dirPath, bLink);
  // A directory that cannot be made is no failure of its own item (the
  // items in it fail), but a link in the way is never gone through.
  if (isDirectory) return bLink ? ZI_NOFILE : ZI_OK;
  if (dir == platform::kNoDir) return ZI_NOFILE;
  const std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  if (fileName.empty()) return ZI_NOFILE;
  return WriteItemFile(r, item, [&](unsigned mode, bool& bDiskFile) {
    // Made with O_EXCL: a fresh disk file, nothing to test.
    bDiskFile = true;
    return platform::CreateFileReplacingAt(dir, fileName, mode);
  });
}

std::uint32_t ZipCloseFile(ZipHandle* handle) {
  if (handle == nullptr || handle->m_nMode != kZipHandleModeRead) return ZI_MODE;
  if (handle->m_pReader) {
    CloseArchive(handle->m_pReader->m_pArchive);
    CloseDirectories(handle->m_pReader, 0);
  }
  delete handle->m_pReader;
  delete handle;
  return ZI_OK;
}
