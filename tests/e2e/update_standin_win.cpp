// update.exe of the Windows end-to-end tests: records how the launcher
// started it, as the Linux tests' updater script does (the argument count,
// the one argument, the current directory) and then the command line after
// the program's own name as it came (what WinMain gets as lpCmdLine), into
// the file that TOLVANE_TEST_UPDATER_LOG names. The file appears whole: it
// is written under another name first.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/command_line.h"

int main(int argc, char** argv) {
  const char* log = std::getenv("TOLVANE_TEST_UPDATER_LOG");
  if (log == nullptr || *log == '\0') return 2;
  char cwd[MAX_PATH * 4] = "";
  GetCurrentDirectoryA(sizeof cwd, cwd);
  const std::string record = std::to_string(argc - 1) + "\n" + (argc > 1 ? argv[1] : "") + "\n" + cwd + "\n" +
                             CommandLineTail(GetCommandLineA()) + "\n";
  const std::string part = std::string(log) + ".tmp";
  std::FILE* f = std::fopen(part.c_str(), "wb");
  if (f == nullptr) return 1;
  const bool written = std::fwrite(record.data(), 1, record.size(), f) == record.size();
  if (std::fclose(f) != 0 || !written) return 1;
  return MoveFileExA(part.c_str(), log, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
