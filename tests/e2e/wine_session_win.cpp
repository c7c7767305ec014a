// The first program of an end-to-end driver's Wine session, started with
// its output on /dev/null. Wine starts its own processes (the services, and
// the desktop's explorer.exe once a program needs a desktop) as children of
// whichever program needs them first, and they keep that program's
// standard streams open until the session ends: started from here, they
// never hold a test's pipes. Makes the file its argument names once the
// desktop is up, then keeps the session alive until its standard input
// ends.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2 || GetDesktopWindow() == nullptr) return 1;
  const HANDLE ready = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(ready);
  char buffer[256];
  DWORD got = 0;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
  }
  return 0;
}
