// tolvane-unzip run as a user runs it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>

#include <unistd.h>

#include "e2e/target.h"
#include "support/support.h"
#include "zip_fixtures.h"

using namespace zip_fixtures;
using testing_support::Exists;
using testing_support::ListTree;
using testing_support::ProcessResult;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const e2e::Target& g_target = e2e::Target::Current();

ProcessResult Unzip(const std::vector<std::string>& args, const std::string& cwd = "") {
  testing_support::ProcessOptions o;
  o.cwd = cwd;
  o.env["LC_ALL"] = "C.UTF-8";
  o.timeout = std::chrono::seconds(60);
  return g_target.Run(g_target.Program("TOLVANE_E2E_UNZIP", TOLVANE_UNZIP_BIN), args, o);
}

}  // namespace

TEST(TolvaneUnzip, UnpacksWhatZipWroteAsPythonReadsIt) {
  TempDir t;
  WriteFile(t / "src/a/b/c.txt", std::string(100000, 'c'));
  WriteFile(t / "src/run", "#!/bin/sh\n", 0755);
  WriteFile(t / "src/empty", "");
  std::filesystem::create_directories(t / "src/void");
  RunTool({"zip", "-qr", t / "t.zip", "."}, t / "src");
  // Relative archive and destination, from the caller's directory.
  ProcessResult r = Unzip({"t.zip", "out"}, t.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");  // no terminal, no bar
  PythonExtract(t / "t.zip", t / "py");
  ExpectSameTree(t / "py", t / "out");
  // Again over the same tree.
  EXPECT_EQ(Unzip({t / "t.zip", t / "out"}).status, 0);
}

TEST(TolvaneUnzip, UnpacksTreesPastMaxPath) {
  // Whole paths of 300 and 600 bytes as the program writes them (a data
  // directory is 50 to 80 bytes deep before a package's first name); no
  // item name reaches 260 bytes.
  const std::string a(100, 'a'), b(100, 'b');
  for (const std::size_t length : {300u, 600u}) {
    TempDir t;
    std::string dest = t / "out";
    ASSERT_LE(g_target.Path(dest).size() + 1 + 202 + 3 + 4, length);
    std::size_t last = length - g_target.Path(dest).size() - 1 - 202 - 4;
    for (; last > 53; last -= 51) dest += "/" + std::string(50, 'p');
    const std::string deepest = a + "/" + b + "/" + std::string(last, 'c') + ".dat";
    ASSERT_EQ(g_target.Path(dest + "/" + deepest).size(), length);
    Python(R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for name in sys.argv[2:]:
        z.writestr(name, b'' if name.endswith('/') else name.encode() * 50)
)",
           {t / "deep.zip", a + "/", a + "/top.txt", a + "/" + b + "/mid.txt", deepest});
    ProcessResult r = Unzip({t / "deep.zip", dest});
    EXPECT_EQ(r.status, 0) << length << ": " << r.err;
    PythonExtract(t / "deep.zip", t / "py");
    ExpectSameTree(t / "py", dest);
    // Again over the same tree.
    r = Unzip({t / "deep.zip", dest});
    EXPECT_EQ(r.status, 0) << length << ": " << r.err;
    ExpectSameTree(t / "py", dest);
  }
}

TEST(TolvaneUnzip, ListsItems) {
  TempDir t;
  Python(R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    i = zipfile.ZipInfo('dir/', (2024, 2, 29, 23, 59, 58)); i.external_attr = (0o40755 << 16) | 0x10
    z.writestr(i, b'')
    i = zipfile.ZipInfo('dir/file.txt', (2024, 2, 29, 23, 59, 58)); i.external_attr = 0o100644 << 16
    z.writestr(i, b'x' * 1000)
    i = zipfile.ZipInfo('WIN.TXT', (1999, 12, 31, 1, 2, 4)); i.external_attr = 0x20; i.create_system = 0
    z.writestr(i, b'hello')
)",
         {t / "l.zip"});
  ProcessResult r = Unzip({"-l", t / "l.zip"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) lines.push_back(std::regex_replace(line, std::regex(" +"), " "));
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(lines[1], " 0 d---- 0 0 2024-02-29 23:59:58 dir/");
  EXPECT_TRUE(std::regex_match(lines[2], std::regex(" 1 ----- [0-9]+ 1000 2024-02-29 23:59:58 dir/file.txt")))
      << lines[2];
  EXPECT_EQ(lines[3], " 2 -r--a 5 5 1999-12-31 01:02:04 WIN.TXT");
  EXPECT_FALSE(Exists(t / "dir"));

  WriteFile(t / "bad.zip", "no archive");
  r = Unzip({"-l", t / "bad.zip"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("bad.zip"), std::string::npos);
}

TEST(TolvaneUnzip, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"only.zip"}, {"-l"}, {"a.zip", "dir", "extra"}, {"-x", "a.zip"}, {"", "dir"}, {"a.zip", ""}};
  for (const auto& args : cases) {
    ProcessResult r = Unzip(args);
    EXPECT_EQ(r.status, 64) << args.size();
    EXPECT_NE(r.err.find("usage"), std::string::npos);
  }
}

TEST(TolvaneUnzip, RefusesBrokenAndHostileArchivesWithStatus1) {
  TempDir t;
  WriteFile(t / "victim", "precious");
  Archive climbing;
  climbing.entries = {{.name = "ok.txt", .data = "ok"}, {.name = "../victim", .data = "evil"}};
  WriteFile(t / "climb.zip", Build(climbing).bytes);
  Archive damaged;
  damaged.entries = {{.name = "d.txt", .data = std::string(20000, 'd'), .method = 8, .crc = 1}};
  WriteFile(t / "damaged.zip", Build(damaged).bytes);
  WriteFile(t / "empty.zip", Build(Archive{}).bytes);

  const struct {
    const char* zip;
    const char* message;
  } cases[] = {
      {"climb.zip", "refused"},
      {"damaged.zip", "damaged"},
      {"empty.zip", "cannot open"},
      {"missing.zip", "cannot open"},
  };
  for (const auto& c : cases) {
    const std::string dest = t / (std::string("out-") + c.zip);
    ProcessResult r = Unzip({t / c.zip, dest});
    EXPECT_EQ(r.status, 1) << c.zip;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.zip << ": " << r.err;
  }
  EXPECT_EQ(ReadFile(t / "victim"), "precious");
  EXPECT_EQ(ListTree(t / "out-climb.zip"), std::vector<std::string>{"ok.txt"});

  // A destination that is a file.
  ProcessResult r = Unzip({t / "damaged.zip", t / "victim"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile(t / "victim"), "precious");
}

TEST(TolvaneUnzip, RefusesNamesThatLeadOutOfTheDestination) {
  // Each archive holds ok.txt and one name aimed at the victim: climbing,
  // absolute with either separator, on a drive (also relative to a drive's
  // current directory, as "C:x"), or on a share. Both builds refuse them
  // all, though only Windows would follow a drive or a share.
  TempDir t;
  WriteFile(t / "victim", "precious");
  std::filesystem::create_directories(t / "cwd");
  // Drive C: is the Wine prefix's drive_c, outside every scratch directory.
  const std::string onC = "tolvane-e2e-" + std::to_string(getpid());
  const std::string victim = t / "victim";
  std::string victimBack = victim;  // "\\tmp\\...": on the current drive under Windows
  std::replace(victimBack.begin(), victimBack.end(), '/', '\\');
  const std::string names[] = {
      "../victim", "..\\victim", "a/../../victim", "a\\..\\..\\victim", victim, victimBack,
      "Z:" + victimBack, "Z:" + victim, "C:" + onC, "C:\\" + onC, "C:/" + onC, "c:" + onC,
      "\\\\127.0.0.1\\share\\" + onC, "//127.0.0.1/share/" + onC, "\\\\?\\Z:" + victimBack,
  };
  std::vector<std::string> expectedTree = {"cwd/", "victim"};
  for (std::size_t i = 0; i < std::size(names); ++i) {
    const std::string n = std::to_string(i);
    Archive a;
    a.entries = {{.name = "ok.txt", .data = "ok"}, {.name = names[i], .data = "evil"}};
    WriteFile(t / (n + ".zip"), Build(a).bytes);
    ProcessResult r = Unzip({t / (n + ".zip"), t / ("out-" + n)}, t / "cwd");
    EXPECT_EQ(r.status, 1) << names[i];
    EXPECT_NE(r.err.find("(" + names[i] + "): name is absolute or leaves the destination: refused"), std::string::npos)
        << names[i] << ": " << r.err;
    EXPECT_EQ(ListTree(t / ("out-" + n)), std::vector<std::string>{"ok.txt"}) << names[i];
    expectedTree.insert(expectedTree.end(), {n + ".zip", "out-" + n + "/", "out-" + n + "/ok.txt"});
  }
  EXPECT_EQ(ReadFile(t / "victim"), "precious");
  std::sort(expectedTree.begin(), expectedTree.end());
  EXPECT_EQ(ListTree(t.path()), expectedTree);
  if (g_target.wine()) {
    EXPECT_FALSE(Exists(g_target.winePrefix() + "/drive_c/" + onC));
  }
}

TEST(TolvaneUnzip, NamesReachTheTerminalWithControlBytesEscaped) {
  TempDir t;
  Archive a;
  // The refused name first: unpacking ends at the first item that fails,
  // and Windows cannot make the names with control bytes at all.
  a.entries = {{.name = "../\x1b[31mred", .data = "z"},
               {.name = "\x1b]0;owned\x07\x1b[2Jname.txt", .data = "x"},
               {.name = "\xE7\x82\xB9.txt", .data = "y"}};
  WriteFile(t / "names.zip", Build(a).bytes);

  ProcessResult list = Unzip({"-l", t / "names.zip"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find(" \\x1b]0;owned\\x07\\x1b[2Jname.txt\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find(" \xE7\x82\xB9.txt\n"), std::string::npos) << list.out;  // a character, as it is
  EXPECT_NE(list.out.find(" ../\\x1b[31mred\n"), std::string::npos) << list.out;

  ProcessResult unpack = Unzip({t / "names.zip", t / "out"});
  EXPECT_EQ(unpack.status, 1);
  EXPECT_NE(unpack.err.find("(../\\x1b[31mred): name is absolute"), std::string::npos) << unpack.err;

  // The paths the user gave come back escaped as well.
  ProcessResult missing = Unzip({t / "no\x1b[5mpe.zip", t / "out"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no\\x1b[5mpe.zip"), std::string::npos) << missing.err;
  for (const ProcessResult* r : {&list, &unpack, &missing}) {
    EXPECT_EQ(r->out.find_first_of("\x1b\x07"), std::string::npos);
    EXPECT_EQ(r->err.find_first_of("\x1b\x07"), std::string::npos);
  }
}

TEST(TolvaneUnzip, ListingPastABrokenCentralRecordEndsPromptly) {
  // 32767 good records in an archive that claims 65535: every index past
  // them fails, and each once walked the directory again from the start
  // (216 s).
  TempDir t;
  Archive a;
  for (int i = 0; i < 32767; ++i) a.entries.push_back({.name = std::to_string(i), .data = ""});
  Built b = Build(a);
  Put16(b.bytes, b.endOffset + 8, 65535);
  Put16(b.bytes, b.endOffset + 10, 65535);
  WriteFile(t / "claims.zip", b.bytes);
  const auto t0 = std::chrono::steady_clock::now();
  ProcessResult r = Unzip({"-l", t / "claims.zip"});
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1 + 32767);
  EXPECT_NE(r.out.find(" 32766\n"), std::string::npos);
  EXPECT_NE(r.err.find("item 32767: entry record damaged"), std::string::npos);
  EXPECT_NE(r.err.find("item 65534: entry record damaged"), std::string::npos);
}
