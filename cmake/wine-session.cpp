// The holder of Wine's desktop that wine-run starts, with its streams going
// nowhere, when no holder is up. Wine closes the desktop (explorer.exe) a
// second after its last user ends, and the next program that needs one
// starts it again as its own child, which keeps that program's standard
// streams open: a caller's pipe would outlive the program. While this runs,
// the desktop stays. It ends once the file of its first argument, which
// wine-run touches at every call, is two minutes old, and the session goes
// after it. The file of its second argument is there while it holds the
// desktop.
#include <windows.h>

namespace {

constexpr ULONGLONG kIdleTicks = 120ULL * 10000000ULL;  // 100 ns steps

ULONGLONG Ticks(const FILETIME& t) { return static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime; }

bool InUse(const char* stamp) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(stamp, GetFileExInfoStandard, &data)) return false;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Ticks(now) < Ticks(data.ftLastWriteTime) + kIdleTicks;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || GetDesktopWindow() == nullptr) return 1;
  const HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(ready);
  while (InUse(argv[1])) Sleep(2000);
  DeleteFileA(argv[2]);
  return 0;
}
