#include "zip_fixtures.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <random>

#include "support/support.h"

namespace zip_fixtures {

namespace {

void Add16(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}

void Add32(std::string& s, std::uint32_t v) {
  Add16(s, v & 0xFFFF);
  Add16(s, v >> 16);
}

}  // namespace

void Put16(std::string& s, std::size_t at, std::uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
  Put16(s, at, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(s, at + 2, static_cast<std::uint16_t>(v >> 16));
}

std::uint32_t Crc(const std::string& data) {
  return static_cast<std::uint32_t>(
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Deflate(const std::string& data) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string UtBlock(unsigned flags, const std::vector<std::int32_t>& times) {
  std::string s = "UT";
  Add16(s, static_cast<std::uint32_t>(1 + 4 * times.size()));
  s += static_cast<char>(flags);
  for (std::int32_t t : times) Add32(s, static_cast<std::uint32_t>(t));
  return s;
}

std::string OtherBlock(std::uint16_t id, std::size_t size) {
  std::string s;
  Add16(s, id);
  Add16(s, static_cast<std::uint32_t>(size));
  s += std::string(size, 'x');
  return s;
}

Built Build(const Archive& a) {
  Built b;
  std::string& s = b.bytes;
  s = a.prefix;
  struct Written {
    std::uint32_t crc, compressed, size, offset;
  };
  std::vector<Written> written;
  for (const Entry& e : a.entries) {
    const std::string stored = e.rawData ? *e.rawData : e.method == 8 ? Deflate(e.data) : e.data;
    Written w{e.crc.value_or(Crc(e.data)), static_cast<std::uint32_t>(stored.size()),
              e.size.value_or(static_cast<std::uint32_t>(e.data.size())),
              static_cast<std::uint32_t>(s.size() - a.prefix.size())};
    b.localOffsets.push_back(s.size());
    Add32(s, 0x04034B50);
    Add16(s, 20);
    Add16(s, e.localFlags.value_or(e.flags | (e.descriptor ? 0x0008 : 0)));
    Add16(s, e.localMethod.value_or(e.method));
    Add16(s, e.dosTime);
    Add16(s, e.dosDate);
    Add32(s, e.descriptor ? 0 : w.crc);
    Add32(s, e.descriptor ? 0 : w.compressed);
    Add32(s, e.descriptor ? 0 : w.size);
    Add16(s, static_cast<std::uint32_t>(e.name.size()));
    Add16(s, static_cast<std::uint32_t>(e.localExtra.size()));
    s += e.name + e.localExtra + stored;
    if (e.descriptor) {
      Add32(s, 0x08074B50);
      Add32(s, w.crc);
      Add32(s, w.compressed);
      Add32(s, w.size);
    }
    written.push_back(w);
  }
  const std::size_t cdStart = s.size();
  for (std::size_t i = 0; i < a.entries.size(); ++i) {
    const Entry& e = a.entries[i];
    const Written& w = written[i];
    b.centralOffsets.push_back(s.size());
    Add32(s, 0x02014B50);
    Add16(s, e.madeBy);
    Add16(s, 20);
    Add16(s, e.centralFlags.value_or(e.flags | (e.descriptor ? 0x0008 : 0)));
    Add16(s, e.method);
    Add16(s, e.dosTime);
    Add16(s, e.dosDate);
    Add32(s, w.crc);
    Add32(s, w.compressed);
    Add32(s, w.size);
    Add16(s, static_cast<std::uint32_t>(e.name.size()));
    Add16(s, static_cast<std::uint32_t>(e.centralExtra.size()));
    Add16(s, 0);
    Add16(s, 0);
    Add16(s, 0);
    Add32(s, e.external);
    Add32(s, w.offset);
    s += e.name + e.centralExtra;
  }
  b.endOffset = s.size();
  Add32(s, 0x06054B50);
  Add16(s, 0);
  Add16(s, 0);
  Add16(s, static_cast<std::uint32_t>(a.entries.size()));
  Add16(s, static_cast<std::uint32_t>(a.entries.size()));
  Add32(s, static_cast<std::uint32_t>(b.endOffset - cdStart));
  Add32(s, static_cast<std::uint32_t>(cdStart - a.prefix.size()));
  Add16(s, static_cast<std::uint32_t>(a.comment.size()));
  s += a.comment + a.trailer;
  return b;
}

// A small tree: text, random bytes, an empty file, an empty directory,
// nested directories and an executable.
void MakeSourceTree(const std::string& root) {
  std::mt19937 g(7);
  std::string random(70000, '\0');
  for (char& c : random) c = static_cast<char>(g());
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "row " + std::to_string(i) + "\n";
  testing_support::WriteFile(root + "/readme.txt", "hello\n");
  testing_support::WriteFile(root + "/data/random.bin", random);
  testing_support::WriteFile(root + "/data/deep/er/text.txt", text);
  testing_support::WriteFile(root + "/empty.txt", "");
  testing_support::WriteFile(root + "/bin/run.sh", "#!/bin/sh\necho run\n", 0755);
  std::filesystem::create_directories(root + "/nothing/here");
  // Past times of odd seconds, a different one for each file: an extracted
  // file stamped now, or at the MS-DOS time's even second, shows.
  std::int64_t t = 1500000001;
  for (const std::string& rel : testing_support::ListTree(root)) {
    if (rel.back() == '/') continue;
    EXPECT_TRUE(testing_support::SetFileTimes(root + "/" + rel, testing_support::FileTimes{t, t + 86400})) << rel;
    t += 7777;
  }
}

void RunTool(const std::vector<std::string>& argv, const std::string& cwd, const std::string& input) {
  testing_support::ProcessOptions o;
  o.cwd = cwd;
  o.input = input;
  testing_support::ProcessResult r = testing_support::RunProcess(argv, o);
  std::string line;
  for (const std::string& a : argv) line += a + " ";
  ASSERT_EQ(r.status, 0) << line << "\n" << r.out << r.err;
}

void Python(const std::string& script, const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<std::string> argv = {TOLVANE_PYTHON3, "-c", script};
  argv.insert(argv.end(), args.begin(), args.end());
  RunTool(argv, cwd);
}

void PythonExtract(const std::string& zip, const std::string& dir) {
  Python("import sys, zipfile\nzipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])", {zip, dir});
}

void ExpectSameTree(const std::string& expected, const std::string& actual) {
  const std::vector<std::string> want = testing_support::ListTree(expected);
  ASSERT_EQ(testing_support::ListTree(actual), want) << expected << " vs " << actual;
  for (const std::string& rel : want) {
    if (rel.back() == '/') continue;
    EXPECT_TRUE(testing_support::ReadFile(expected + "/" + rel) == testing_support::ReadFile(actual + "/" + rel))
        << rel << " differs";
  }
}

}  // namespace zip_fixtures
