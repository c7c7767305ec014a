#include "platform/shell.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/cwd.h"
#include "record_lines.h"
#include "support/support.h"

using namespace platform;
using namespace std::chrono_literals;
using testing_support::Exists;
using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WaitFor;
using testing_support::WriteFile;

namespace {

// Records what it was started with, after a pause that the caller must not wait for.
const char kRecorder[] =
    "#!/bin/sh\n"
    "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
    "sleep 0.5\n"
    "{ echo \"$#\"; printf '%s\\n' \"$1\"; pwd; echo \"$$ $(cut -d' ' -f6 /proc/$$/stat)\";\n"
    "  echo \"$streams\"; } > \"$(dirname \"$0\")/record.tmp\"\n"
    "mv \"$(dirname \"$0\")/record.tmp\" \"$(dirname \"$0\")/record\"\n";

}  // namespace

TEST(StartProgram, OneArgumentDetachedInTheCurrentDirectory) {
  TempDir t;
  WriteFile(t / "Update/update.exe", kRecorder, 0755);
  WriteFile(t / "cwd/.keep", "");
  SavedCurrentDir saved;
  ASSERT_TRUE(SetCurrentDir(t / "cwd"));
  const std::string argument = "/opt/My Games/Launcher.exe*/home/u/.local/share/Launcher/Game/*Launcher \"$HOME\" \\ ;";
  auto t0 = std::chrono::steady_clock::now();
  // A relative path is taken from the current directory.
  bool started = StartProgram("../Update/update.exe", argument);
  auto took = std::chrono::steady_clock::now() - t0;
  saved.Restore();
  ASSERT_TRUE(started);
  EXPECT_LT(took, 400ms);  // not waited for
  ASSERT_TRUE(WaitFor([&] { return Exists(t / "Update/record"); }, 10s));
  std::vector<std::string> lines = RecordLines(ReadFile(t / "Update/record"));
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "1");
  EXPECT_EQ(lines[1], argument);
  EXPECT_EQ(lines[2], t / "cwd");
  // A session of its own: its session id is its process id.
  std::string pid = lines[3].substr(0, lines[3].find(' '));
  EXPECT_EQ(lines[3], pid + " " + pid);
  EXPECT_NE(pid, std::to_string(getpid()));
  for (int fd = 0; fd < 3; ++fd) EXPECT_EQ(lines[4 + fd], "/dev/null") << fd;
}

TEST(StartProgram, WhatCannotRunIsAFailure) {
  TempDir t;
  WriteFile(t / "noexec.exe", "#!/bin/sh\ntouch \"$0.ran\"\n", 0644);
  WriteFile(t / "noscript.exe", "touch ran\n", 0755);  // neither a program nor a script with #!
  WriteFile(t / "dir.exe/x", "");
  WriteFile(t / "onpath/prog", "#!/bin/sh\ntouch \"$0.ran\"\n", 0755);
  ScopedEnv env;
  env.Set("PATH", t / "onpath");
  SavedCurrentDir saved;
  ASSERT_TRUE(SetCurrentDir(t.path()));
  struct Case {
    const char* what;
    std::string path;
  } cases[] = {
      {"missing", t / "missing.exe"},
      {"without execute permission", t / "noexec.exe"},
      {"no executable format", t / "noscript.exe"},
      {"a directory", t / "dir.exe"},
      {"a bare name is not searched on PATH", "prog"},
      {"empty", ""},
  };
  for (const Case& c : cases) EXPECT_FALSE(StartProgram(c.path, "x")) << c.what;
  saved.Restore();
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(Exists(t / "noexec.exe.ran"));
  EXPECT_FALSE(Exists(t / "ran"));
  EXPECT_FALSE(Exists(t / "onpath/prog.ran"));
}

TEST(ShellOpenUrl, OnlyWebAddressesReachXdgOpen) {
  TempDir t;
  WriteFile(t / "bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$(dirname \"$0\")/opened\"\n", 0755);
  ScopedEnv env;
  env.Set("PATH", t / "bin" + ":/usr/bin:/bin");
  for (const char* url : {"file:///etc/passwd", "--help", "-x", "smb://127.0.0.1/s", ""}) {
    EXPECT_FALSE(ShellOpenUrl(url)) << url;
  }
  ASSERT_TRUE(ShellOpenUrl("HTTP://127.0.0.1:9/site/"));
  ASSERT_TRUE(WaitFor([&] { return Exists(t / "bin/opened"); }, 10s));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(ReadFile(t / "bin/opened"), "HTTP://127.0.0.1:9/site/\n");
}
