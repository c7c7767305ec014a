#include "platform/shell.h"

#include "platform/windows_api.h"

#include <objbase.h>
#include <shellapi.h>

namespace platform {

bool ShellOpenUrl(const std::string& url) {
  if (!IsWebAddress(url)) return false;
  // Shell extensions that handle the address may need COM on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const INT_PTR result = reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOW));
  if (SUCCEEDED(com)) CoUninitialize();
  return result > 32;
}

bool StartProgram(const std::string& path, const std::string& argument) {
  // A name cannot hold a quote; a command line cannot hold a zero byte.
  if (path.empty() || path.find('"') != std::string::npos || argument.find('\0') != std::string::npos) return false;
  // The program is named in full (no search, no extension added). The
  // command line is the one ShellExecuteA makes: the name in quotes, then
  // the parameter string as it is, unquoted, which is what an updater made
  // for the original reads.
  std::string commandLine = "\"" + path + "\" " + argument;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process{};
  // Detached, as from the shell: no console of ours, none of our handles,
  // not in our Ctrl-C group; the current directory is ours.
  if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace platform
