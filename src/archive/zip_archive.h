// Zip archive reader: finds the end record, walks the central directory,
// checks local headers against their central records and delivers one
// entry's data at a time, copied (stored) or raw-inflated (deflated).
// Single-disk archives with 16-bit counts and 32-bit sizes and offsets;
// bytes in front of the archive (an executable stub) are allowed.
#pragma once

#include <zlib.h>

#include <cstdint>

#include "platform/file.h"
#include "platform/types.h"

constexpr int ZA_OK = 0;
constexpr int ZA_IOERR = -1;
constexpr int ZA_PARAM = -102;
constexpr int ZA_BADZIP = -103;
constexpr int ZA_NOMEM = -104;

// Entry data is read in pieces of up to this size (larger pieces measured
// faster; nothing is read ahead of need).
constexpr std::uint32_t kZipReadBufferSize = 262144;
// Header fields, and the data of small entries, are read through windows of
// this size instead of a call per field.
constexpr std::uint32_t kZipFieldWindowSize = 16384;

struct ZipWindow {
  std::uint64_t m_nStart = 0;
  std::uint32_t m_nLength = 0;
  unsigned char m_abBytes[kZipFieldWindowSize];
};

struct ZipSource {
  platform::FileHandle m_hFile = platform::kNoFile;
  BOOL m_bSeekable = FALSE;
  BOOL m_bReadError = FALSE;
  // The file position of the next field read.
  std::uint64_t m_nPosition = 0;
  // Two windows, so that the walk through the central directory and the
  // local headers it leads to do not push each other out.
  ZipWindow m_windows[2];
  std::uint32_t m_nLastWindow = 0;  // the one used last
};

struct ZipCentralRecord {
  std::uint32_t m_nVersionMadeBy = 0;
  std::uint32_t m_nVersionNeeded = 0;
  std::uint32_t m_nFlags = 0;
  std::uint32_t m_nMethod = 0;
  std::uint32_t m_nDosDateTime = 0;  // time in the low 16 bits, date in the high 16
  std::uint32_t m_nCrc32 = 0;
  std::uint32_t m_nCompressedSize = 0;
  std::uint32_t m_nUncompressedSize = 0;
  std::uint32_t m_nNameLength = 0;
  std::uint32_t m_nExtraLength = 0;
  std::uint32_t m_nCommentLength = 0;
  std::uint32_t m_nDiskNumberStart = 0;
  std::uint32_t m_nInternalAttributes = 0;
  std::uint32_t m_nExternalAttributes = 0;
};

struct ZipEntryReader {
  unsigned char* m_pReadBuffer = nullptr;  // kZipReadBufferSize bytes, owned
  z_stream m_stream{};
  std::uint32_t m_nNextDataPos = 0;  // without the prefix
  BOOL m_bInflateStarted = FALSE;
  std::uint32_t m_nCompressedLeft = 0;
  std::uint32_t m_nUncompressedLeft = 0;
  ZipSource* m_pSource = nullptr;  // not owned
  std::uint32_t m_nMethod = 0;
  std::uint32_t m_nPrefixLength = 0;
};

struct ZipArchive {
  ZipSource* m_pSource = nullptr;  // owned
  std::uint32_t m_nEntryCount = 0;
  std::uint32_t m_nCommentLength = 0;
  std::uint32_t m_nPrefixLength = 0;
  std::uint32_t m_nCurrentIndex = 0;
  std::uint32_t m_nCurrentRecordPos = 0;  // without the prefix
  BOOL m_bCurrentRecordValid = FALSE;
  std::uint32_t m_nEndRecordPos = 0;  // absolute
  std::uint32_t m_nCentralDirSize = 0;
  std::uint32_t m_nCentralDirOffset = 0;
  ZipCentralRecord m_record;
  std::uint32_t m_nLocalHeaderOffset = 0;
  // General purpose flags of the local header last checked.
  std::uint32_t m_nLocalFlags = 0;
  ZipEntryReader* m_pEntry = nullptr;  // owned
  // The reader of the entry closed last, kept with its buffer and inflate
  // state for the next one.
  ZipEntryReader* m_pSpareEntry = nullptr;  // owned
};

// A source over the file, or nullptr and *pnCode = 0x200 when it cannot
// be opened.
ZipSource* OpenSource(const char* path, std::uint32_t* pnCode = nullptr);
void CloseSource(ZipSource* source);

// Reads exactly size bytes at the absolute position pos: ZA_OK, or
// ZA_IOERR (not seekable, failed or short read).
int SourceReadAt(ZipSource* source, std::uint64_t pos, void* buffer, std::uint32_t size);

// Takes ownership of source (closed on failure). Positioned on entry 0.
ZipArchive* OpenArchive(ZipSource* source, int* pnCode = nullptr);

int GoToFirstEntry(ZipArchive* archive);
// ZA_OK when the next entry became current and its record was read;
// ZA_PARAM when there is none to move to (last entry, invalid record).
int GoToNextEntry(ZipArchive* archive);
// Makes entry index current, from the first entry when it lies behind.
// Fails when a record on the way cannot be read, and at once (ZA_PARAM)
// for an index at or past a current record that could not be read.
int GoToEntry(ZipArchive* archive, std::uint32_t index);

int ReadCentralRecord(ZipArchive* archive, ZipCentralRecord* record, std::uint32_t* pnLocalOffset,
                      char* nameBuffer, std::uint32_t bufferSize);
int CheckLocalHeader(ZipArchive* archive, std::uint32_t* pnLocalNameExtra, std::uint32_t* pnExtraPos,
                     std::uint32_t* pnExtraLength);

int OpenEntry(ZipArchive* archive);
// Bytes placed in buffer (0 at the end of the entry), or a negative code.
int ReadEntry(ZipArchive* archive, void* buffer, std::uint32_t length);
void CloseEntry(ZipArchive* archive);
void CloseArchive(ZipArchive* archive);
