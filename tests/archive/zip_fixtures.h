// Archives for the archive tests: built byte by byte (for the malformed
// cases) or made by real tools, and python3 zipfile as the reference reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zip_fixtures {

struct Entry {
  std::string name;
  std::string data;                       // uncompressed bytes
  std::uint16_t method = 0;               // 8: deflated here, raw
  std::uint16_t flags = 0;
  std::uint32_t external = 0x81A40000u;   // regular file, 0644
  std::uint16_t madeBy = 0x031E;          // Unix
  std::uint16_t dosDate = 0x5A8A;         // 2025-04-10
  std::uint16_t dosTime = 0x6000;         // 12:00:00
  std::string localExtra;
  std::string centralExtra;
  bool descriptor = false;                // flag bit 3, zeros in the local header, descriptor after the data
  std::optional<std::string> rawData;     // stored as the entry data instead of data (compressed)
  std::optional<std::uint32_t> crc;       // both headers
  std::optional<std::uint32_t> size;      // uncompressed size in both headers
  std::optional<std::uint16_t> localMethod;
  // Flags of one header instead of flags (and the descriptor's bit 3).
  std::optional<std::uint16_t> localFlags;
  std::optional<std::uint16_t> centralFlags;
};

struct Archive {
  std::string prefix;
  std::vector<Entry> entries;
  std::string comment;
  std::string trailer;  // after the end record
};

struct Built {
  std::string bytes;
  std::vector<std::size_t> localOffsets;    // absolute, prefix included
  std::vector<std::size_t> centralOffsets;  // absolute
  std::size_t endOffset = 0;                // absolute
};

Built Build(const Archive& a);
std::string Deflate(const std::string& data);
std::uint32_t Crc(const std::string& data);
void Put16(std::string& s, std::size_t at, std::uint16_t v);
void Put32(std::string& s, std::size_t at, std::uint32_t v);
// A "UT" extra block with the given flags and times.
std::string UtBlock(unsigned flags, const std::vector<std::int32_t>& times);
// Another extra block of size data bytes.
std::string OtherBlock(std::uint16_t id, std::size_t size);

// A small tree: text, random bytes, an empty file, an empty directory,
// nested directories and an executable, each file with a past time of its
// own (odd seconds, so that a time rounded to MS-DOS's two seconds shows).
void MakeSourceTree(const std::string& root);

// Runs argv in cwd; fails the current test when the tool does not exit 0.
void RunTool(const std::vector<std::string>& argv, const std::string& cwd, const std::string& input = "");
// python3 -c script args...
void Python(const std::string& script, const std::vector<std::string>& args, const std::string& cwd = "");
// Extracts zip with python3 zipfile's extractall into dir.
void PythonExtract(const std::string& zip, const std::string& dir);
// Both trees hold the same paths, and every file the same bytes.
void ExpectSameTree(const std::string& expected, const std::string& actual);

}  // namespace zip_fixtures
