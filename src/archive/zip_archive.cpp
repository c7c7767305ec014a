#include "archive/zip_archive.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr unsigned char kEndRecordSignature[4] = {0x50, 0x4B, 0x05, 0x06};
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralFixedSize = 46;
constexpr std::uint32_t kLocalFixedSize = 30;
constexpr std::uint32_t kFlagEncrypted = 0x0001;
constexpr std::uint32_t kFlagDataDescriptor = 0x0008;

// The window that holds size bytes at pos, or nullptr.
const ZipWindow* FindWindow(ZipSource* s, std::uint64_t pos, std::uint32_t size) {
  for (std::uint32_t i = 0; i < 2; ++i) {
    const ZipWindow& w = s->m_windows[i];
    if (pos >= w.m_nStart && pos + size <= w.m_nStart + w.m_nLength) {
      s->m_nLastWindow = i;
      return &w;
    }
  }
  return nullptr;
}

// Bytes at the source's position, through its windows; the position moves
// past them. A read that fails or meets the end of the file gives ZA_IOERR.
int SourceRead(ZipSource* s, void* out, std::uint32_t size) {
  if (!s->m_bSeekable) return ZA_IOERR;
  const std::uint64_t pos = s->m_nPosition;
  if (FindWindow(s, pos, size) == nullptr && size <= kZipFieldWindowSize) {
    // The window not used last makes room.
    const std::uint32_t i = 1 - s->m_nLastWindow;
    ZipWindow& w = s->m_windows[i];
    long n = platform::ReadFileAt(s->m_hFile, pos, w.m_abBytes, kZipFieldWindowSize);
    if (n < 0) {
      s->m_bReadError = TRUE;
      w.m_nLength = 0;
      return ZA_IOERR;
    }
    w.m_nStart = pos;
    w.m_nLength = static_cast<std::uint32_t>(n);
    s->m_nLastWindow = i;
    if (size > w.m_nLength) return ZA_IOERR;
  }
  const int rc = SourceReadAt(s, pos, out, size);
  if (rc == ZA_OK) s->m_nPosition += size;
  return rc;
}

// Little-endian fields from the source, 0 when the read fails.
int ReadField(ZipSource* s, std::uint32_t bytes, std::uint32_t& value) {
  unsigned char b[4] = {0, 0, 0, 0};
  int rc = SourceRead(s, b, bytes);
  value = rc == ZA_OK ? static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                            static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24
                      : 0;
  return rc;
}

// Reads each field in turn into the given values; ZA_IOERR once any fails.
int ReadFields(ZipSource* s, std::initializer_list<std::pair<std::uint32_t, std::uint32_t*>> fields) {
  int rc = ZA_OK;
  for (const auto& f : fields) {
    if (ReadField(s, f.first, *f.second) != ZA_OK) rc = ZA_IOERR;
  }
  return rc;
}

void Seek(ZipSource* s, std::uint64_t pos) { s->m_nPosition = pos; }

// File position of the end record, or 0 when none is found in the last
// 65535 bytes. The hit nearest to the end wins.
std::uint64_t FindEndRecord(ZipSource* s) {
  if (!s->m_bSeekable) return 0;
  std::uint64_t fileSize = 0;
  if (!platform::GetFileSize(s->m_hFile, fileSize)) return 0;
  const std::uint64_t limit = std::min<std::uint64_t>(0xFFFF, fileSize);
  unsigned char chunk[1024 + 4];
  std::uint64_t back = 4;
  while (back < limit) {
    back = std::min<std::uint64_t>(back + 1024, limit);
    const std::uint64_t start = fileSize - back;
    const std::uint32_t length = static_cast<std::uint32_t>(std::min<std::uint64_t>(sizeof chunk, back));
    if (SourceReadAt(s, start, chunk, length) != ZA_OK) return 0;
    for (std::uint32_t i = length - 4 + 1; i-- > 0;) {
      if (std::memcmp(chunk + i, kEndRecordSignature, sizeof kEndRecordSignature) == 0) {
        if (start + i == 0) break;  // a file of nothing but an end record is no archive
        return start + i;
      }
    }
  }
  return 0;
}

}  // namespace

ZipSource* OpenSource(const char* path, std::uint32_t* pnCode) {
  platform::FileHandle h = path ? platform::OpenFileForReading(path) : platform::kNoFile;
  ZipSource* s = h == platform::kNoFile ? nullptr : new (std::nothrow) ZipSource;
  if (s == nullptr) {
    platform::CloseFile(h);
    if (pnCode) *pnCode = 0x200;
    return nullptr;
  }
  s->m_hFile = h;
  s->m_bSeekable = platform::IsDiskFile(h) ? TRUE : FALSE;
  return s;
}

void CloseSource(ZipSource* source) {
  if (source == nullptr) return;
  platform::CloseFile(source->m_hFile);
  delete source;
}

int SourceReadAt(ZipSource* source, std::uint64_t pos, void* buffer, std::uint32_t size) {
  if (!source->m_bSeekable) return ZA_IOERR;
  // Served from a field window when it holds the bytes already.
  if (const ZipWindow* w = FindWindow(source, pos, size)) {
    std::memcpy(buffer, w->m_abBytes + (pos - w->m_nStart), size);
    return ZA_OK;
  }
  long n = platform::ReadFileAt(source->m_hFile, pos, buffer, size);
  if (n < 0) source->m_bReadError = TRUE;
  return n == static_cast<long>(size) ? ZA_OK : ZA_IOERR;
}

ZipArchive* OpenArchive(ZipSource* source, int* pnCode) {
  int rc = ZA_OK;
  std::uint64_t endPos = source ? FindEndRecord(source) : 0;
  std::uint32_t signature, thisDisk, centralDisk, count, total, cdSize, cdOffset, commentLength;
  if (endPos == 0 || endPos > 0xFFFFFFFFu) {
    rc = ZA_IOERR;
  } else {
    Seek(source, endPos);
    rc = ReadFields(source, {{4, &signature},
                             {2, &thisDisk},
                             {2, &centralDisk},
                             {2, &count},
                             {2, &total},
                             {4, &cdSize},
                             {4, &cdOffset},
                             {2, &commentLength}});
    if (rc == ZA_OK && (total != count || thisDisk != 0 || centralDisk != 0)) rc = ZA_BADZIP;
    if (rc == ZA_OK && endPos < static_cast<std::uint64_t>(cdOffset) + cdSize) rc = ZA_BADZIP;
  }
  ZipArchive* a = rc == ZA_OK ? new (std::nothrow) ZipArchive : nullptr;
  if (rc == ZA_OK && a == nullptr) rc = ZA_NOMEM;
  if (rc != ZA_OK) {
    CloseSource(source);
    if (pnCode) *pnCode = rc;
    return nullptr;
  }
  a->m_pSource = source;
  a->m_nEntryCount = count;
  a->m_nCommentLength = commentLength;
  a->m_nEndRecordPos = static_cast<std::uint32_t>(endPos);
  a->m_nCentralDirSize = cdSize;
  a->m_nCentralDirOffset = cdOffset;
  a->m_nPrefixLength = static_cast<std::uint32_t>(endPos - (static_cast<std::uint64_t>(cdOffset) + cdSize));
  GoToFirstEntry(a);
  if (pnCode) *pnCode = ZA_OK;
  return a;
}

int GoToFirstEntry(ZipArchive* archive) {
  if (archive == nullptr) return ZA_PARAM;
  archive->m_nCurrentRecordPos = archive->m_nCentralDirOffset;
  archive->m_nCurrentIndex = 0;
  int rc = ReadCentralRecord(archive, &archive->m_record, &archive->m_nLocalHeaderOffset, nullptr, 0);
  archive->m_bCurrentRecordValid = rc == ZA_OK ? TRUE : FALSE;
  return rc;
}

int GoToNextEntry(ZipArchive* archive) {
  if (archive == nullptr || !archive->m_bCurrentRecordValid ||
      archive->m_nCurrentIndex + 1 >= archive->m_nEntryCount) {
    return ZA_PARAM;
  }
  const ZipCentralRecord& r = archive->m_record;
  archive->m_nCurrentRecordPos += kCentralFixedSize + r.m_nNameLength + r.m_nExtraLength + r.m_nCommentLength;
  archive->m_nCurrentIndex += 1;
  int rc = ReadCentralRecord(archive, &archive->m_record, &archive->m_nLocalHeaderOffset, nullptr, 0);
  archive->m_bCurrentRecordValid = rc == ZA_OK ? TRUE : FALSE;
  return rc;
}

int GoToEntry(ZipArchive* archive, std::uint32_t index) {
  if (archive == nullptr || index >= archive->m_nEntryCount) return ZA_PARAM;
  if (index < archive->m_nCurrentIndex) {
    int rc = GoToFirstEntry(archive);
    if (rc != ZA_OK) return rc;
  } else if (!archive->m_bCurrentRecordValid) {
    // Nothing at or past a broken record can be reached; starting over for
    // each such index made a listing quadratic.
    return ZA_PARAM;
  }
  // Each step either advances or fails, so the walk always ends.
  while (archive->m_nCurrentIndex < index) {
    int rc = GoToNextEntry(archive);
    if (rc != ZA_OK) return rc;
  }
  return ZA_OK;
}

int ReadCentralRecord(ZipArchive* archive, ZipCentralRecord* record, std::uint32_t* pnLocalOffset,
                      char* nameBuffer, std::uint32_t bufferSize) {
  if (archive == nullptr) return ZA_PARAM;
  ZipSource* s = archive->m_pSource;
  Seek(s, static_cast<std::uint64_t>(archive->m_nPrefixLength) + archive->m_nCurrentRecordPos);
  ZipCentralRecord r;
  std::uint32_t signature, localOffset;
  int rc = ReadFields(s, {{4, &signature},
                          {2, &r.m_nVersionMadeBy},
                          {2, &r.m_nVersionNeeded},
                          {2, &r.m_nFlags},
                          {2, &r.m_nMethod},
                          {4, &r.m_nDosDateTime},
                          {4, &r.m_nCrc32},
                          {4, &r.m_nCompressedSize},
                          {4, &r.m_nUncompressedSize},
                          {2, &r.m_nNameLength},
                          {2, &r.m_nExtraLength},
                          {2, &r.m_nCommentLength},
                          {2, &r.m_nDiskNumberStart},
                          {2, &r.m_nInternalAttributes},
                          {4, &r.m_nExternalAttributes},
                          {4, &localOffset}});
  if (rc == ZA_OK && nameBuffer != nullptr && bufferSize > 0) {
    if (r.m_nNameLength < bufferSize) nameBuffer[r.m_nNameLength] = '\0';
    rc = SourceRead(s, nameBuffer, std::min(r.m_nNameLength, bufferSize));
  }
  if (rc != ZA_OK) return ZA_IOERR;
  if (signature != kCentralSignature) return ZA_BADZIP;
  if (record) *record = r;
  if (pnLocalOffset) *pnLocalOffset = localOffset;
  return ZA_OK;
}

int CheckLocalHeader(ZipArchive* archive, std::uint32_t* pnLocalNameExtra, std::uint32_t* pnExtraPos,
                     std::uint32_t* pnExtraLength) {
  if (archive == nullptr) return ZA_PARAM;
  ZipSource* s = archive->m_pSource;
  if (!s->m_bSeekable) return ZA_IOERR;
  Seek(s, static_cast<std::uint64_t>(archive->m_nPrefixLength) + archive->m_nLocalHeaderOffset);
  const ZipCentralRecord& c = archive->m_record;
  std::uint32_t signature, version, flags, method, dosTime, crc, compressed, uncompressed, nameLength, extraLength;
  int rc = ReadFields(s, {{4, &signature},
                          {2, &version},
                          {2, &flags},
                          {2, &method},
                          {4, &dosTime},
                          {4, &crc},
                          {4, &compressed},
                          {4, &uncompressed},
                          {2, &nameLength},
                          {2, &extraLength}});
  if (rc != ZA_OK) return ZA_IOERR;
  bool bad = signature != kLocalSignature;
  bad = bad || method != c.m_nMethod || (c.m_nMethod != 0 && c.m_nMethod != 8);
  if (!(flags & kFlagDataDescriptor)) {
    bad = bad || crc != c.m_nCrc32 || compressed != c.m_nCompressedSize || uncompressed != c.m_nUncompressedSize;
  }
  bad = bad || nameLength != c.m_nNameLength;
  if (bad) return ZA_BADZIP;
  archive->m_nLocalFlags = flags;
  if (pnLocalNameExtra) *pnLocalNameExtra = nameLength + extraLength;
  if (pnExtraPos) *pnExtraPos = archive->m_nLocalHeaderOffset + kLocalFixedSize + nameLength;
  if (pnExtraLength) *pnExtraLength = extraLength;
  return ZA_OK;
}

int OpenEntry(ZipArchive* archive) {
  if (archive == nullptr || !archive->m_bCurrentRecordValid) return ZA_PARAM;
  CloseEntry(archive);
  std::uint32_t localNameExtra = 0;
  if (CheckLocalHeader(archive, &localNameExtra, nullptr, nullptr) != ZA_OK) return ZA_BADZIP;
  // Encrypted data would only come out as garbage.
  if ((archive->m_nLocalFlags | archive->m_record.m_nFlags) & kFlagEncrypted) return ZA_BADZIP;
  // The last entry's reader serves again: its buffer, and its inflate
  // state once reset, cost nothing per entry.
  ZipEntryReader* e = archive->m_pSpareEntry;
  archive->m_pSpareEntry = nullptr;
  if (e == nullptr) {
    e = new (std::nothrow) ZipEntryReader;
    unsigned char* buffer = e ? new (std::nothrow) unsigned char[kZipReadBufferSize] : nullptr;
    if (buffer == nullptr) {
      delete e;
      return ZA_NOMEM;
    }
    e->m_pReadBuffer = buffer;
  }
  e->m_nCompressedLeft = archive->m_record.m_nCompressedSize;
  e->m_nUncompressedLeft = archive->m_record.m_nUncompressedSize;
  e->m_nMethod = archive->m_record.m_nMethod;
  e->m_pSource = archive->m_pSource;
  e->m_nPrefixLength = archive->m_nPrefixLength;
  e->m_nNextDataPos = archive->m_nLocalHeaderOffset + kLocalFixedSize + localNameExtra;
  e->m_stream.next_in = nullptr;
  e->m_stream.avail_in = 0;
  if (e->m_nMethod != 0) {
    if (e->m_bInflateStarted && inflateReset(&e->m_stream) != Z_OK) {
      inflateEnd(&e->m_stream);
      e->m_bInflateStarted = FALSE;
    }
    if (!e->m_bInflateStarted && inflateInit2(&e->m_stream, -MAX_WBITS) == Z_OK) e->m_bInflateStarted = TRUE;
  }
  archive->m_pEntry = e;
  return ZA_OK;
}

int ReadEntry(ZipArchive* archive, void* buffer, std::uint32_t length) {
  if (archive == nullptr || archive->m_pEntry == nullptr) return ZA_PARAM;
  ZipEntryReader* e = archive->m_pEntry;
  std::uint32_t room = std::min({length, e->m_nUncompressedLeft, 0x7FFFFFFFu});
  unsigned char* out = static_cast<unsigned char*>(buffer);
  std::uint32_t produced = 0;
  while (room > 0) {
    z_stream& z = e->m_stream;
    if (e->m_nMethod == 0 && z.avail_in == 0 && e->m_nCompressedLeft > 0) {
      // Stored data goes straight into the caller's buffer.
      const std::uint32_t n = std::min(room, e->m_nCompressedLeft);
      if (SourceReadAt(e->m_pSource, static_cast<std::uint64_t>(e->m_nPrefixLength) + e->m_nNextDataPos,
                       out + produced, n) != ZA_OK) {
        return ZA_IOERR;
      }
      e->m_nNextDataPos += n;
      e->m_nCompressedLeft -= n;
      produced += n;
      room -= n;
      e->m_nUncompressedLeft -= n;
      continue;
    }
    if (z.avail_in == 0 && e->m_nCompressedLeft > 0) {
      const std::uint32_t n = std::min(kZipReadBufferSize, e->m_nCompressedLeft);
      if (SourceReadAt(e->m_pSource, static_cast<std::uint64_t>(e->m_nPrefixLength) + e->m_nNextDataPos,
                       e->m_pReadBuffer, n) != ZA_OK) {
        return ZA_IOERR;
      }
      e->m_nNextDataPos += n;
      e->m_nCompressedLeft -= n;
      z.next_in = e->m_pReadBuffer;
      z.avail_in = n;
    }
    if (e->m_nMethod == 0) {
      // Data that ends before its announced size makes no more progress.
      if (z.avail_in == 0) break;
      const std::uint32_t n = std::min(room, static_cast<std::uint32_t>(z.avail_in));
      std::memcpy(out + produced, z.next_in, n);
      z.next_in += n;
      z.avail_in -= n;
      produced += n;
      room -= n;
      e->m_nUncompressedLeft -= n;
    } else {
      if (!e->m_bInflateStarted) break;
      z.next_out = out + produced;
      z.avail_out = room;
      const int zrc = inflate(&z, Z_NO_FLUSH);
      const std::uint32_t n = room - z.avail_out;
      produced += n;
      room -= n;
      e->m_nUncompressedLeft -= n;
      // Z_BUF_ERROR here means the input is used up: no progress is possible.
      if (zrc != Z_OK) break;
    }
  }
  return static_cast<int>(produced);
}

namespace {

void FreeEntryReader(ZipEntryReader* e) {
  if (e == nullptr) return;
  delete[] e->m_pReadBuffer;
  if (e->m_bInflateStarted) inflateEnd(&e->m_stream);
  delete e;
}

}  // namespace

void CloseEntry(ZipArchive* archive) {
  if (archive == nullptr || archive->m_pEntry == nullptr) return;
  FreeEntryReader(archive->m_pSpareEntry);
  archive->m_pSpareEntry = archive->m_pEntry;
  archive->m_pEntry = nullptr;
}

void CloseArchive(ZipArchive* archive) {
  if (archive == nullptr) return;
  CloseEntry(archive);
  FreeEntryReader(archive->m_pSpareEntry);
  CloseSource(archive->m_pSource);
  delete archive;
}
