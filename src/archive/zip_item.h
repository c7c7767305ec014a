// Zip items: an archive file opened as a handle, each entry described as
// a fixed-size item record, and one item extracted to a file or directory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/zip_archive.h"
#include "platform/clock.h"
#include "platform/dir_handle.h"

constexpr std::uint32_t ZI_OK = 0;
constexpr std::uint32_t ZI_NOFILE = 0x200;
constexpr std::uint32_t ZI_WRITE = 0x400;
constexpr std::uint32_t ZI_CORRUPT = 0x700;
constexpr std::uint32_t ZI_READ = 0x800;
constexpr std::uint32_t ZI_ARGS = 0x10000;
constexpr std::uint32_t ZI_MODE = 0x80000;

// Item attributes: the file attributes of the system the packages are made for.
constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr std::uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

constexpr std::uint32_t kZipItemNameSize = 260;
constexpr std::uint32_t kZipHandleModeRead = 1;

struct ZipItem {
  std::int32_t m_nIndex = 0;
  char m_szName[kZipItemNameSize] = {};  // as stored, zero-terminated
  std::uint32_t m_nAttributes = 0;
  platform::FileTime m_tAccess = 0;
  platform::FileTime m_tCreation = 0;
  platform::FileTime m_tModification = 0;
  std::uint32_t m_nCompressedSize = 0;
  std::uint32_t m_nUncompressedSize = 0;
};

// Sizes of the buffer between an entry and its file: one write per filled
// buffer, and fewer, longer runs of inflate.
constexpr std::uint32_t kZipCopyBufferSize = 262144;

struct ZipReader {
  ZipArchive* m_pArchive = nullptr;  // owned
  ZipItem m_cachedItem;
  std::int32_t m_nCachedIndex = -1;
  std::string m_strRootDir;  // the current directory at open, ending with a separator
  // The copy buffer, made at the first extraction and kept for the others.
  std::unique_ptr<unsigned char[]> m_pCopyBuffer;
  // For extraction below the root: the root and the directories of the
  // last item's path held open, one per level (m_dirHandles[0] is the root).
  std::vector<platform::DirHandle> m_dirHandles;
  std::vector<std::string> m_dirNames;  // the component opened at each level past the root
};

struct ZipHandle {
  std::uint32_t m_nMode = kZipHandleModeRead;
  ZipReader* m_pReader = nullptr;  // owned
};

ZipHandle* ZipOpenFile(const char* path);
// index -1 asks for the count, which comes back as the item's index.
std::uint32_t ZipGetItem(ZipHandle* handle, std::int32_t index, ZipItem* item);
// Writes item index to target (relative to the current directory, or
// absolute); a directory item becomes a directory below the root instead.
std::uint32_t ZipExtractItem(ZipHandle* handle, std::int32_t index, const char* target);
// Writes item index below the root directory under its stored name, as an
// extraction of the whole archive does: a name that is absolute or climbs,
// or a path through a symbolic link, is refused with ZI_NOFILE; whatever
// non-directory stands at the target (a read-only file, a link) is replaced.
// Directories are made and entered by handle, never through a link.
std::uint32_t ZipExtractItemBelowRoot(ZipHandle* handle, std::int32_t index);
std::uint32_t ZipCloseFile(ZipHandle* handle);

// Creates root + dir and the parents of dir below root.
void CreateItemDirectory(const char* root, const char* dir);

// Item attributes from an entry's external file attributes.
std::uint32_t ZipAttributesFromExternal(std::uint32_t external);
// Permission bits for a file item: those of a Unix-made entry, execute
// bits included; 0666 otherwise; without write permission when read-only.
unsigned ZipFileMode(std::uint32_t external, std::uint32_t attributes);

// A stored name that is absolute ('/' or '\' first, or a drive letter
// such as "C:") or has ".." as a component, with either separator.
bool IsUnsafeItemName(std::string_view name);
// A stored name as a path: both '/' and '\' separate.
std::string ItemNameToPath(std::string_view name);
// True when a directory on the way from root (ending with a separator) to the
// stored name already exists as a symbolic link: following it could lead
// anywhere outside root.
bool PassesThroughLink(const std::string& root, std::string_view name);
