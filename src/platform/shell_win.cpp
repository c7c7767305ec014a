#include "platform/shell.h"

#include "platform/windows_api.h"

#include <objbase.h>
#include <shellapi.h>

#include "platform/text.h"

namespace platform {

namespace {

// One argument as the C run time's parser (and CommandLineToArgvW) reads
// it back: in quotes, a quote escaped by a backslash, and backslashes
// doubled where a quote follows them. Steps over multibyte characters, so
// that a trail byte 0x5C is never taken for a backslash.
std::string QuoteArgument(std::string_view argument) {
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (std::size_t i = 0; i < argument.size();) {
    const std::size_t n = MbCharLength(argument, i);
    if (n == 1 && argument[i] == '\\') {
      ++backslashes;
    } else {
      if (n == 1 && argument[i] == '"') out.append(backslashes + 1, '\\');
      backslashes = 0;
    }
    out.append(argument.substr(i, n));
    i += n;
  }
  out.append(backslashes, '\\');
  out += '"';
  return out;
}

bool IsWebAddress(std::string_view url) {
  const std::string head = ToLower(url.substr(0, 8));
  return head.rfind("http://", 0) == 0 || head == "https://";
}

}  // namespace

bool ShellOpenUrl(const std::string& url) {
  // The shell starts a program, or opens a file or a share, for anything
  // else; the address comes from the network.
  if (!IsWebAddress(url) || HasControlByte(url)) return false;
  // Shell extensions that handle the address may need COM on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const INT_PTR result = reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOW));
  if (SUCCEEDED(com)) CoUninitialize();
  return result > 32;
}

bool StartProgram(const std::string& path, const std::string& argument) {
  // A name cannot hold a quote; a command line cannot hold a zero byte.
  if (path.empty() || path.find('"') != std::string::npos || argument.find('\0') != std::string::npos) return false;
  // The program is named in full (no search, no extension added); the
  // command line gives it argument as its one argument.
  std::string commandLine = "\"" + path + "\" " + QuoteArgument(argument);
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
