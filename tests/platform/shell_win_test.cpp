// Programs started as the launcher starts the updater, and what the shell
// is never handed.
#include "platform/shell.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/cwd.h"
#include "record_lines.h"
#include "platform/files.h"
#include "support/support.h"
#include "win_fixtures.h"

using namespace platform;
using namespace std::chrono_literals;
using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WaitFor;
using testing_support::WriteFile;
using win_fixtures::Backslashed;

namespace {

// The recording child, copied to path.
void CopyChild(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  ASSERT_TRUE(CopyFileA(TOLVANE_SHELL_CHILD, path.c_str(), TRUE)) << path;
}

}  // namespace

TEST(StartProgramWindows, TheParameterStringAsItIsDetachedInTheCurrentDirectory) {
  // As ShellExecuteA hands it: the command line after the program's name is
  // the string, unquoted, so an updater made for the original reads what it
  // always read. The C run time's argv of it is the updater's affair: the
  // string is one argument while it has no blanks or quotes.
  TempDir t;
  CopyChild(t / "Update/update.exe");
  ASSERT_TRUE(CreateOneDirectory(t / "cwd"));
  struct Case {
    const char* what;
    std::string argument;
    std::string tail;         // the command line after the name
    bool oneArgument = false; // argv[1] is the string
  } cases[] = {
      {"the hand-off string", "C:\\Games\\Launcher.exe*C:\\Users\\u\\AppData\\Local\\Launcher\\Game\\*Launcher",
       "C:\\Games\\Launcher.exe*C:\\Users\\u\\AppData\\Local\\Launcher\\Game\\*Launcher", true},
      {"the hand-off string with a blank", "C:\\My Games\\Launcher.exe*C:\\Users\\u\\AppData\\Local\\Launcher\\Game\\*Launcher",
       "C:\\My Games\\Launcher.exe*C:\\Users\\u\\AppData\\Local\\Launcher\\Game\\*Launcher"},
      {"quotes and backslashes before them", "say \"hi\" a\\\"b c\\\\\"d", "say \"hi\" a\\\"b c\\\\\"d"},
      {"backslashes at the end", "end\\\\", "end\\\\", true},
      {"empty", "", ""},
      {"blanks only", "   ", ""},
  };
  for (const Case& c : cases) {
    DeleteOneFile(t / "Update/update.exe.record");
    const SavedCurrentDir saved;
    ASSERT_TRUE(SetCurrentDir(t / "cwd"));
    const auto t0 = std::chrono::steady_clock::now();
    // A relative path is taken from the current directory.
    const bool started = StartProgram("..\\Update\\update.exe", c.argument);
    const auto took = std::chrono::steady_clock::now() - t0;
    saved.Restore();
    ASSERT_TRUE(started) << c.what;
    EXPECT_LT(took, 400ms) << c.what;  // not waited for
    // Until it reads whole: once, under a Wine session just started, the
    // record was there but read empty.
    std::vector<std::string> lines;
    ASSERT_TRUE(WaitFor([&] {
      lines = RecordLines(ReadFile(t / "Update/update.exe.record"));
      return !lines.empty();
    }, 20s)) << c.what;
    ASSERT_EQ(lines.size(), 4u) << c.what;
    if (c.oneArgument) {
      EXPECT_EQ(lines[0], "1") << c.what;
      EXPECT_EQ(lines[1], c.argument) << c.what;
    }
    EXPECT_EQ(lines[2], Backslashed(t / "cwd")) << c.what;
    EXPECT_EQ(lines[3], c.tail) << c.what;
  }
}

TEST(StartProgramWindows, WhatCannotRunIsAFailure) {
  TempDir t;
  WriteFile(t / "text.exe", "echo ran > ran.txt\r\n");  // no program
  WriteFile(t / "dir.exe/x", "");
  CopyChild(t / "onpath/prog.exe");
  ScopedEnv env;
  env.Set("PATH", Backslashed(t / "onpath"));
  const SavedCurrentDir saved;
  ASSERT_TRUE(SetCurrentDir(t.path()));
  struct Case {
    const char* what;
    std::string path;
  } cases[] = {
      {"missing", t / "missing.exe"},
      {"no executable format", t / "text.exe"},
      {"a directory", t / "dir.exe"},
      {"a bare name is not searched on PATH", "prog.exe"},
      {"no extension is added", t / "onpath/prog"},
      {"a quote in the name", t / "a\"b.exe"},
      {"empty", ""},
  };
  for (const Case& c : cases) EXPECT_FALSE(StartProgram(c.path, "x")) << c.what;
  saved.Restore();
  std::this_thread::sleep_for(1s);
  EXPECT_FALSE(PathExists(t / "ran.txt"));
  EXPECT_FALSE(PathExists(t / "onpath/prog.exe.record"));
}

TEST(ShellOpenUrlWindows, OnlyWebAddressesReachTheShell) {
  // Anything else the shell would start, or open: a program from the
  // configuration service's answer must never run.
  TempDir t;
  CopyChild(t / "site.exe");
  const std::string program = Backslashed(t / "site.exe");
  const std::string urls[] = {program, "file:///" + program, "\\\\127.0.0.1\\share\\x.exe", "  http://127.0.0.1/",
                              "http://127.0.0.1/\r\nx", "ftp://127.0.0.1/", ""};
  for (const std::string& url : urls) {
    EXPECT_FALSE(ShellOpenUrl(url)) << url;
  }
  std::this_thread::sleep_for(1s);
  EXPECT_FALSE(PathExists(t / "site.exe.record"));
}
