// tolvane-unzip run as a user runs it.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "support/support.h"
#include "zip_fixtures.h"

using namespace zip_fixtures;
using testing_support::Exists;
using testing_support::ListTree;
using testing_support::ProcessResult;
using testing_support::ReadFile;
using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

ProcessResult Unzip(const std::vector<std::string>& args, const std::string& cwd = "") {
  std::vector<std::string> argv = {TOLVANE_UNZIP_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  testing_support::ProcessOptions o;
  o.cwd = cwd;
  o.timeout = std::chrono::seconds(60);
  return RunProcess(argv, o);
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
