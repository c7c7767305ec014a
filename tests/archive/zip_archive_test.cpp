// The archive reader on archives built byte by byte.
#include "archive/zip_archive.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "support/support.h"
#include "zip_fixtures.h"

using namespace zip_fixtures;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

std::string Random(std::size_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(g());
  return s;
}

// Text that deflates well but not to nothing.
std::string Text(std::size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 100003) + " of the log\n";
  s.resize(n);
  return s;
}

struct Opened {
  TempDir dir;
  ZipArchive* archive = nullptr;
  int code = 12345;

  explicit Opened(const std::string& bytes) {
    WriteFile(dir / "a.zip", bytes);
    ZipSource* s = OpenSource((dir / "a.zip").c_str());
    EXPECT_NE(s, nullptr);
    archive = OpenArchive(s, &code);
  }
  ~Opened() { CloseArchive(archive); }
};

// Every byte of the current entry, read in pieces of step bytes.
std::string ReadAll(ZipArchive* a, std::uint32_t step = 16384, int* lastCode = nullptr) {
  std::string out, buf(step, '\0');
  for (int guard = 0; guard < 100000; ++guard) {
    int n = ReadEntry(a, buf.data(), step);
    if (lastCode) *lastCode = n;
    if (n <= 0) break;
    EXPECT_LE(static_cast<std::uint32_t>(n), step);
    out.append(buf.data(), static_cast<std::size_t>(n));
  }
  return out;
}

std::string EntryData(ZipArchive* a, std::uint32_t index) {
  EXPECT_EQ(GoToEntry(a, index), ZA_OK);
  EXPECT_EQ(OpenEntry(a), ZA_OK);
  std::string s = ReadAll(a);
  CloseEntry(a);
  return s;
}

Archive ThreeEntries() {
  Archive a;
  a.entries = {{.name = "one.txt", .data = "first"},
               {.name = "two.bin", .data = Random(40000, 2), .method = 8},
               {.name = "three.txt", .data = Text(70000), .method = 8}};
  return a;
}

}  // namespace

TEST(ZipArchive, ReadsStoredAndDeflatedEntries) {
  Archive a = ThreeEntries();
  Opened o(Build(a).bytes);
  ASSERT_NE(o.archive, nullptr) << o.code;
  EXPECT_EQ(o.archive->m_nEntryCount, 3u);
  EXPECT_EQ(o.archive->m_nPrefixLength, 0u);
  for (std::uint32_t i = 0; i < 3; ++i) EXPECT_TRUE(EntryData(o.archive, i) == a.entries[i].data) << i;
  // Back to an earlier entry after a later one.
  EXPECT_TRUE(EntryData(o.archive, 0) == "first");
}

TEST(ZipArchive, ReadsInPiecesOfAtMostTheBufferAndThenZero) {
  Archive a = ThreeEntries();
  Opened o(Build(a).bytes);
  ASSERT_NE(o.archive, nullptr);
  for (std::uint32_t step : {1u, 7u, 16384u, 100000u}) {
    ASSERT_EQ(GoToEntry(o.archive, 2), ZA_OK);
    ASSERT_EQ(OpenEntry(o.archive), ZA_OK);
    int last = -1;
    EXPECT_TRUE(ReadAll(o.archive, step, &last) == a.entries[2].data) << step;
    EXPECT_EQ(last, 0);
    EXPECT_EQ(ReadEntry(o.archive, nullptr, 0), 0);
    CloseEntry(o.archive);
  }
  EXPECT_EQ(ReadEntry(o.archive, nullptr, 10), ZA_PARAM);
}

TEST(ZipArchive, PrefixCommentAndDataDescriptor) {
  Archive a = ThreeEntries();
  a.prefix = Random(5000, 9);
  a.comment = std::string(100, 'c');
  a.entries[1].descriptor = true;
  a.entries[2].descriptor = true;
  Opened o(Build(a).bytes);
  ASSERT_NE(o.archive, nullptr) << o.code;
  EXPECT_EQ(o.archive->m_nPrefixLength, 5000u);
  EXPECT_EQ(o.archive->m_nCommentLength, 100u);
  EXPECT_EQ(o.archive->m_nEntryCount, 3u);
  for (std::uint32_t i = 0; i < 3; ++i) EXPECT_TRUE(EntryData(o.archive, i) == a.entries[i].data) << i;
}

TEST(ZipArchive, TheLocalHeadersBit3DecidesWhetherItsSizesCount) {
  // Zeros in the local CRC-32 and sizes, a descriptor after the data.
  const struct {
    const char* what;
    std::uint16_t localFlags, centralFlags;
    int code;
  } cases[] = {
      {"bit 3 in both headers", 0x0008, 0x0008, ZA_OK},
      {"bit 3 in the local header only", 0x0008, 0x0000, ZA_OK},
      {"bit 3 in the central record only", 0x0000, 0x0008, ZA_BADZIP},
  };
  for (const auto& c : cases) {
    Archive a = ThreeEntries();
    for (Entry& e : a.entries) {
      e.descriptor = true;
      e.localFlags = c.localFlags;
      e.centralFlags = c.centralFlags;
    }
    Opened o(Build(a).bytes);
    ASSERT_NE(o.archive, nullptr) << c.what;
    for (std::uint32_t i = 0; i < 3; ++i) {
      ASSERT_EQ(GoToEntry(o.archive, i), ZA_OK) << c.what;
      EXPECT_EQ(CheckLocalHeader(o.archive, nullptr, nullptr, nullptr), c.code) << c.what << " " << i;
      if (c.code == ZA_OK) {
        EXPECT_TRUE(EntryData(o.archive, i) == a.entries[i].data) << c.what << " " << i;
      }
    }
  }
}

TEST(ZipArchive, EndRecordNearestTheEndWins) {
  Archive a = ThreeEntries();
  // A stray signature with room for a record of zeros: an empty archive.
  a.trailer = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  Opened o(Build(a).bytes);
  ASSERT_NE(o.archive, nullptr) << o.code;
  EXPECT_EQ(o.archive->m_nEntryCount, 0u);

  // A bare signature at the very end cannot be read as a record.
  a.trailer = std::string("PK\x05\x06", 4);
  Opened bare(Build(a).bytes);
  EXPECT_EQ(bare.archive, nullptr);
  EXPECT_EQ(bare.code, ZA_IOERR);
}

TEST(ZipArchive, SignatureStraddlingTwoSearchChunksIsFound) {
  // The comment puts the end record across the 4-byte overlap of two chunks.
  for (std::size_t commentLength : {1000u, 1001u, 1002u, 1003u, 1004u, 65535u - 22u}) {
    Archive a = ThreeEntries();
    a.comment = std::string(commentLength, 'c');
    Opened o(Build(a).bytes);
    EXPECT_NE(o.archive, nullptr) << commentLength;
  }
  // An end record more than 65535 bytes before the end is not found.
  Archive a = ThreeEntries();
  a.comment = std::string(65535 - 21, 'c');
  Opened o(Build(a).bytes);
  EXPECT_EQ(o.archive, nullptr);
  EXPECT_EQ(o.code, ZA_IOERR);
}

TEST(ZipArchive, FilesThatAreNoArchive) {
  const struct {
    const char* what;
    std::string bytes;
    int code;
  } cases[] = {
      {"empty file", "", ZA_IOERR},
      {"four bytes", "PK\x05\x06", ZA_IOERR},
      {"end record only (22 bytes)", Build(Archive{}).bytes, ZA_IOERR},
      {"random bytes", Random(3000, 1), ZA_IOERR},
  };
  for (const auto& c : cases) {
    Opened o(c.bytes);
    EXPECT_EQ(o.archive, nullptr) << c.what;
    EXPECT_EQ(o.code, c.code) << c.what;
  }
}

TEST(ZipArchive, InconsistentEndRecordsAreBad) {
  const Built good = Build(ThreeEntries());
  const struct {
    const char* what;
    std::size_t field;  // offset in the end record
    std::uint32_t value;
    int bytes;
  } cases[] = {
      {"this disk", 4, 1, 2},
      {"central directory disk", 6, 1, 2},
      {"total differs from count", 10, 4, 2},
      {"central directory ends after the end record", 12, 0x10000, 4},
      {"offset plus size wraps around", 16, 0xFFFFFFF0u, 4},
  };
  for (const auto& c : cases) {
    std::string bytes = good.bytes;
    if (c.bytes == 2) Put16(bytes, good.endOffset + c.field, static_cast<std::uint16_t>(c.value));
    else Put32(bytes, good.endOffset + c.field, c.value);
    Opened o(bytes);
    EXPECT_EQ(o.archive, nullptr) << c.what;
    EXPECT_EQ(o.code, ZA_BADZIP) << c.what;
  }
}

TEST(ZipArchive, SourcesThatCannotBeOpened) {
  for (const char* path : {"/nonexistent/a.zip", static_cast<const char*>(nullptr)}) {
    std::uint32_t code = 0;
    EXPECT_EQ(OpenSource(path, &code), nullptr);
    EXPECT_EQ(code, 0x200u);
  }
}

TEST(ZipArchive, LocalHeadersThatDisagreeAreBad) {
  const struct {
    const char* what;
    void (*change)(Entry&);
  } cases[] = {
      {"local method 8, central 0", [](Entry& e) { e.localMethod = 8; }},
      {"method 12", [](Entry& e) { e.method = 12; e.rawData = e.data; }},
      {"encrypted", [](Entry& e) { e.flags = 0x0001; }},
  };
  for (const auto& c : cases) {
    Archive a = ThreeEntries();
    c.change(a.entries[0]);
    Opened o(Build(a).bytes);
    ASSERT_NE(o.archive, nullptr) << c.what;
    ASSERT_EQ(GoToEntry(o.archive, 0), ZA_OK);
    EXPECT_EQ(OpenEntry(o.archive), ZA_BADZIP) << c.what;
    EXPECT_EQ(o.archive->m_pEntry, nullptr);
    // The other entries stay readable.
    EXPECT_TRUE(EntryData(o.archive, 2) == a.entries[2].data) << c.what;
  }

  // Fields of the local header compared with the central record.
  const Built good = Build(ThreeEntries());
  for (std::size_t field : {0u, 14u, 18u, 22u, 26u}) {
    std::string bytes = good.bytes;
    Put16(bytes, good.localOffsets[1] + field, 0x7777);
    Opened o(bytes);
    ASSERT_NE(o.archive, nullptr);
    ASSERT_EQ(GoToEntry(o.archive, 1), ZA_OK);
    EXPECT_EQ(CheckLocalHeader(o.archive, nullptr, nullptr, nullptr), ZA_BADZIP) << field;
    EXPECT_EQ(OpenEntry(o.archive), ZA_BADZIP) << field;
  }
}

TEST(ZipArchive, CheckLocalHeaderHandsOutTheExtraField) {
  Archive a = ThreeEntries();
  a.entries[1].localExtra = OtherBlock(0x1234, 10);
  a.entries[1].centralExtra = OtherBlock(0x1234, 3);
  const Built b = Build(a);
  Opened o(b.bytes);
  ASSERT_NE(o.archive, nullptr);
  ASSERT_EQ(GoToEntry(o.archive, 1), ZA_OK);
  std::uint32_t nameExtra = 0, extraPos = 0, extraLength = 0;
  ASSERT_EQ(CheckLocalHeader(o.archive, &nameExtra, &extraPos, &extraLength), ZA_OK);
  EXPECT_EQ(nameExtra, 7u + 14u);
  EXPECT_EQ(extraPos, b.localOffsets[1] + 30 + 7);
  EXPECT_EQ(extraLength, 14u);
  EXPECT_TRUE(EntryData(o.archive, 1) == a.entries[1].data);
  EXPECT_TRUE(EntryData(o.archive, 2) == a.entries[2].data);
}

TEST(ZipArchive, UnreadableCentralRecordStopsTheWalk) {
  const Built good = Build(ThreeEntries());
  std::string bytes = good.bytes;
  Put32(bytes, good.centralOffsets[1], 0x12345678);
  Opened o(bytes);
  ASSERT_NE(o.archive, nullptr);
  EXPECT_EQ(GoToEntry(o.archive, 2), ZA_BADZIP);
  EXPECT_FALSE(o.archive->m_bCurrentRecordValid);
  EXPECT_EQ(o.archive->m_nCurrentIndex, 1u);
  // Past the broken record it fails at once, without walking again from
  // the start (which would meet the record again: ZA_BADZIP).
  EXPECT_EQ(GoToEntry(o.archive, 2), ZA_PARAM);
  EXPECT_EQ(GoToEntry(o.archive, 1), ZA_PARAM);
  EXPECT_EQ(OpenEntry(o.archive), ZA_PARAM);
  EXPECT_EQ(GoToNextEntry(o.archive), ZA_PARAM);
  // Entry 0 is still reachable from the start.
  EXPECT_TRUE(EntryData(o.archive, 0) == "first");
  EXPECT_EQ(GoToEntry(o.archive, 3), ZA_PARAM);
}

TEST(ZipArchive, NameBufferIsNeverOverrun) {
  Archive a;
  a.entries = {{.name = std::string(300, 'n'), .data = "x"}, {.name = "short", .data = "y"}};
  Opened o(Build(a).bytes);
  ASSERT_NE(o.archive, nullptr);
  char buf[16 + 4];
  std::memset(buf, '#', sizeof buf);
  ZipCentralRecord r;
  ASSERT_EQ(ReadCentralRecord(o.archive, &r, nullptr, buf, 16), ZA_OK);
  EXPECT_EQ(r.m_nNameLength, 300u);
  EXPECT_EQ(std::string(buf, 16), std::string(16, 'n'));
  EXPECT_EQ(std::string(buf + 16, 4), "####");
  ASSERT_EQ(GoToNextEntry(o.archive), ZA_OK);
  ASSERT_EQ(ReadCentralRecord(o.archive, &r, nullptr, buf, 16), ZA_OK);
  EXPECT_STREQ(buf, "short");
}

TEST(ZipArchive, DamagedOrShortDataEndsTheEntry) {
  const std::string text = Text(200000);
  // The first half as a flushed, unfinished stream, then a block of the
  // reserved type 3: inflate must fail exactly there.
  std::string damaged;
  {
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string head = text.substr(0, 100000), out(200000, '\0');
    z.next_in = reinterpret_cast<Bytef*>(head.data());
    z.avail_in = static_cast<uInt>(head.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    ASSERT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
    out.resize(z.total_out);
    deflateEnd(&z);
    damaged = out + "\x07" + Random(5000, 4);
  }
  const struct {
    const char* what;
    Entry entry;
    std::size_t produced;  // bytes that come out before the entry ends
  } cases[] = {
      {"damaged deflate stream", {.name = "d", .data = text, .method = 8, .rawData = damaged}, 100000},
      {"stored, announced larger than its data", {.name = "s", .data = "12345", .size = 100000}, 5},
      {"deflated, announced larger than its data", {.name = "l", .data = "abc", .method = 8, .size = 100000}, 3},
  };
  for (const auto& c : cases) {
    Archive a;
    a.entries = {c.entry};
    Opened o(Build(a).bytes);
    ASSERT_NE(o.archive, nullptr) << c.what;
    ASSERT_EQ(OpenEntry(o.archive), ZA_OK) << c.what;
    int last = -1;
    const std::string got = ReadAll(o.archive, 16384, &last);
    EXPECT_EQ(last, 0) << c.what;
    EXPECT_TRUE(got == c.entry.data.substr(0, c.produced)) << c.what << ": " << got.size();
  }
}

TEST(ZipArchive, TruncatedFileGivesReadError) {
  // The central directory is intact but the entry data lies past the end.
  Archive a;
  a.entries = {{.name = "big", .data = Random(50000, 3)}};
  Built b = Build(a);
  std::string tail = b.bytes.substr(b.centralOffsets[0]);
  std::string bytes = b.bytes.substr(0, 1000) + tail;
  Put32(bytes, 1000 + (b.endOffset - b.centralOffsets[0]) + 16, 1000);  // central directory offset
  Opened o(bytes);
  ASSERT_NE(o.archive, nullptr) << o.code;
  ASSERT_EQ(OpenEntry(o.archive), ZA_OK);
  char buf[16384];
  EXPECT_EQ(ReadEntry(o.archive, buf, sizeof buf), ZA_IOERR);
}
