// Started by the Windows shell tests: after a pause that the caller must
// not wait for, records beside itself (its own path + ".record") how many
// arguments it got, the first of them, its current directory and its
// command line after its own name.
#include <chrono>
#include <string>
#include <thread>

#include "platform/cwd.h"
#include "platform/file.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/windows_api.h"
#include "support/command_line.h"

int main(int argc, char** argv) {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::string record = std::to_string(argc - 1) + "\n" + (argc > 1 ? argv[1] : "") + "\n" +
                             platform::GetCurrentDir() + "\n" + CommandLineTail(GetCommandLineA()) + "\n";
  const std::string self = platform::GetModuleFileName();
  const platform::FileHandle h = platform::CreateFileForWriting(self + ".tmp", 0644);
  if (h == platform::kNoFile) return 1;
  const bool written = platform::WriteFileAll(h, record.data(), record.size());
  platform::CloseFile(h);
  return written && platform::ReplaceFile(self + ".tmp", self + ".record") ? 0 : 1;
}
