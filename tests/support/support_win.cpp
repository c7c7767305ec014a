// The test support's Windows half: processes by CreateProcessA with pipes,
// Winsock, file times, the environment.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/backend.h"
#include "support/support.h"
#include "support/support_win.h"

namespace testing_support {

namespace {

// 100 ns steps between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDifference = 116444736000000000LL;

std::int64_t UnixSeconds(const FILETIME& ft) {
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  const std::int64_t since = ticks - kEpochDifference;
  return since >= 0 ? since / 10000000 : -((-since + 9999999) / 10000000);
}

FILETIME FromUnixSeconds(std::int64_t t) {
  const std::uint64_t ticks = static_cast<std::uint64_t>(t * 10000000 + kEpochDifference);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

void StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("WSAStartup failed");
}

// One argument as the C runtime's parser reads it back: quoted when it holds
// blanks or quotes or is empty, a quote escaped, and the backslashes in
// front of a quote (or of the closing one) doubled.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') out.append(backslashes * 2 + 1, '\\');
    else out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

std::string CommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const std::string& a : argv) line += (line.empty() ? "" : " ") + QuoteArgument(a);
  return line;
}

struct NoCase {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::toupper(static_cast<unsigned char>(x)) < std::toupper(static_cast<unsigned char>(y));
    });
  }
};

// Our environment with the changes, as the block CreateProcessA takes
// (names sorted without regard to case, each "NAME=value" ended by a zero).
std::string EnvironmentBlock(const std::map<std::string, std::optional<std::string>>& changes,
                             std::string& path) {
  std::map<std::string, std::string, NoCase> env;
  char* strings = GetEnvironmentStringsA();
  for (const char* e = strings; e && *e; e += std::strlen(e) + 1) {
    // "=C:=C:\\dir" and its kind keep the current directories of drives.
    const char* eq = std::strchr(e + 1, '=');
    if (eq) env[std::string(e, static_cast<std::size_t>(eq - e))] = eq + 1;
  }
  if (strings) FreeEnvironmentStringsA(strings);
  for (const auto& [name, value] : changes) {
    if (value) env[name] = *value;
    else env.erase(name);
  }
  std::string block;
  for (const auto& [name, value] : env) block += name + "=" + value + '\0';
  block += '\0';
  auto p = env.find("PATH");
  path = p == env.end() ? std::string() : p->second;
  return block;
}

// argv[0] with a directory in it as given; otherwise looked up on path
// (".exe" appended when it has no extension), as CreateProcessA would look
// it up on our own PATH.
std::string FindProgram(const std::string& prog, const std::string& path) {
  if (prog.find_first_of("\\/:") != std::string::npos) return prog;
  char found[MAX_PATH];
  const DWORD n = SearchPathA(path.empty() ? nullptr : path.c_str(), prog.c_str(), ".exe", MAX_PATH, found, nullptr);
  return n > 0 && n < MAX_PATH ? std::string(found, n) : prog;
}

HANDLE Inheritable(HANDLE h) {
  HANDLE copy = nullptr;
  if (h == nullptr || h == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// Our ends of the pipes are never inheritable; the child's ends are made
// so only while the one CreateProcessA that hands them on runs, so that two
// children started at once do not each get the other's pipes.
std::mutex& StartLock() {
  static std::mutex lock;
  return lock;
}

void MakePipe(HANDLE& read, HANDLE& write) {
  if (!CreatePipe(&read, &write, nullptr, 1 << 16)) throw std::runtime_error("CreatePipe failed");
}

struct Started {
  HANDLE process = nullptr;
  HANDLE job = nullptr;
  std::string error;
};

// The child runs in a job of its own, so that what it starts in turn ends
// with it when it is killed.
Started Start(const std::string& exe, const std::vector<std::string>& argv, const std::string& cwd,
              const std::string* environment, HANDLE in, HANDLE out, HANDLE err) {
  Started s;
  std::string line = CommandLine(argv);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION pi{};
  std::lock_guard<std::mutex> g(StartLock());
  si.hStdInput = Inheritable(in);
  si.hStdOutput = Inheritable(out);
  si.hStdError = Inheritable(err);
  // A program not found on the way is left to CreateProcessA's own search.
  const bool found = exe.find_first_of("\\/:") != std::string::npos;
  const BOOL ok = CreateProcessA(found ? exe.c_str() : nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                 environment ? const_cast<char*>(environment->c_str()) : nullptr,
                                 cwd.empty() ? nullptr : cwd.c_str(), &si, &pi);
  const DWORD error = GetLastError();
  for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError}) {
    if (h) CloseHandle(h);
  }
  if (!ok) {
    s.error = "cannot start " + exe + ": error " + std::to_string(error);
    return s;
  }
  s.job = CreateJobObjectA(nullptr, nullptr);
  if (s.job && !AssignProcessToJobObject(s.job, pi.hProcess)) {
    CloseHandle(s.job);
    s.job = nullptr;
  }
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);
  s.process = pi.hProcess;
  return s;
}

void Kill(const Started& s, UINT code) {
  if (s.job) TerminateJobObject(s.job, code);
  TerminateProcess(s.process, code);
  WaitForSingleObject(s.process, 5000);
}

// Appends what the pipe holds now; false once it has ended.
bool Drain(HANDLE pipe, std::string& sink) {
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) return true;
    char buf[65536];
    DWORD got = 0;
    if (!::ReadFile(pipe, buf, std::min<DWORD>(available, sizeof buf), &got, nullptr) || got == 0) return false;
    sink.append(buf, got);
  }
}

}  // namespace

// The C++ library takes and gives narrow paths in other encodings than the
// ANSI code page: the wide form is the one both agree on.
std::filesystem::path FsPath(const std::string& bytes) {
  if (bytes.empty()) return std::filesystem::path();
  const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
  return std::filesystem::path(wide);
}

std::string PathBytes(const std::filesystem::path& path, bool generic) {
  const std::wstring wide = generic ? path.generic_wstring() : path.wstring();
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n, nullptr, nullptr);
  return bytes;
}

std::wstring LongPath(const std::string& path) {
  const std::wstring wide = FsPath(path).wstring();
  if (wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  std::wstring full(32768, L'\0');
  const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return wide;
  full.resize(n);
  const bool onDrive = full.size() >= 3 && full[1] == L':' && full[2] == L'\\';
  return onDrive ? L"\\\\?\\" + full : full;
}

namespace {

bool IsRealDirectory(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Calls each(path, name, attributes) for the entries of dir, "." and ".."
// left out.
template <typename Each>
void ForEachEntry(const std::wstring& dir, Each each) {
  WIN32_FIND_DATAW data;
  // A "\\?\" path is taken as it stands: no separator twice.
  const std::wstring prefix = !dir.empty() && dir.back() == L'\\' ? dir : dir + L"\\";
  const HANDLE find = FindFirstFileW((prefix + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") each(prefix + name, name, data.dwFileAttributes);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

void ListBelow(const std::wstring& dir, const std::string& rel, std::vector<std::string>& out) {
  ForEachEntry(dir, [&](const std::wstring& path, const std::wstring& name, DWORD attributes) {
    const std::string entry = rel + PathBytes(std::filesystem::path(name), true);
    if (!IsRealDirectory(attributes)) {
      out.push_back(entry);
      return;
    }
    out.push_back(entry + "/");
    ListBelow(path, entry + "/", out);
  });
}

void RemoveBelow(const std::wstring& dir) {
  ForEachEntry(dir, [&](const std::wstring& path, const std::wstring&, DWORD attributes) {
    if (IsRealDirectory(attributes)) {
      RemoveBelow(path);
      RemoveDirectoryW(path.c_str());
    } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // The link itself, of a directory or a file.
      if (!RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());
    } else {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    }
  });
}

}  // namespace

std::vector<std::string> ListEntries(const std::string& root) {
  std::vector<std::string> out;
  ListBelow(LongPath(root), "", out);
  return out;
}

void RemoveTree(const std::string& root) {
  const std::wstring top = LongPath(root);
  RemoveBelow(top);
  RemoveDirectoryW(top.c_str());
}

void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
  // The C runtime's copy for getenv, and the process's for the Windows API
  // and for children; the runtime cannot hold an empty value.
  _putenv((name + "=" + (value ? *value : std::string())).c_str());
  SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
}

FileTimes GetFileTimes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return FileTimes{};
  return FileTimes{UnixSeconds(data.ftLastAccessTime), UnixSeconds(data.ftLastWriteTime)};
}

bool SetFileTimes(const std::string& path, const FileTimes& times) {
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const FILETIME access = FromUnixSeconds(times.access), modification = FromUnixSeconds(times.modification);
  const BOOL ok = SetFileTime(h, nullptr, &access, &modification);
  CloseHandle(h);
  return ok != 0;
}

int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }

int OpenHandleCount() {
  // GetProcessHandleCount answers 0 under Wine; the system's list of every
  // handle (SystemHandleInformation) has them under both.
  struct Entry {
    ULONG nOwner;
    BYTE nType, nFlags;
    USHORT nValue;
    PVOID pObject;
    ULONG nAccess;
  };
  struct List {
    ULONG nCount;
    Entry entries[1];
  };
  using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  static const Query query =
      reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return -1;
  constexpr ULONG kSystemHandleInformation = 16;
  constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
  std::vector<char> buffer(1 << 20);
  LONG status;
  ULONG length = 0;
  while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &length)) ==
             kLengthMismatch &&
         buffer.size() < (1u << 28)) {
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return -1;
  const List* list = reinterpret_cast<const List*>(buffer.data());
  const ULONG self = GetCurrentProcessId();
  int n = 0;
  for (ULONG i = 0; i < list->nCount; ++i) n += list->entries[i].nOwner == self ? 1 : 0;
  return n;
}

bool CanRunUnixTools() { return false; }

ScopedGbkLocale::ScopedGbkLocale() {
  const UINT cp = GetACP();
  if (cp != 936) {
    m_strError = "the ANSI code page is " + std::to_string(cp) +
                 ", not GBK's 936; it is the process's from its start (under Wine, LC_ALL=zh_CN.UTF-8 gives 936)";
    return;
  }
  // U+4E2D in GBK: Wine needs the Unix locale of LC_ALL to store it.
  const std::string probe = m_dir / "\xD6\xD0";
  const HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    m_strError = "the ANSI code page is 936, but no file takes a name in it (error " +
                 std::to_string(GetLastError()) + "; under Wine the Unix locale of LC_ALL must exist)";
    return;
  }
  CloseHandle(h);
  DeleteFileA(probe.c_str());
}

ScopedGbkLocale::~ScopedGbkLocale() = default;

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  std::string path;
  const std::string environment = EnvironmentBlock(options.env, path);
  const std::string exe = FindProgram(argv.at(0), path);

  HANDLE inRead, inWrite, outRead, outWrite, errRead, errWrite;
  MakePipe(inRead, inWrite);
  MakePipe(outRead, outWrite);
  MakePipe(errRead, errWrite);
  Started child = Start(exe, argv, options.cwd, &environment, inRead, outWrite, errWrite);
  CloseHandle(inRead);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (!child.process) {
    for (HANDLE h : {inWrite, outRead, errRead}) CloseHandle(h);
    result.err = child.error;
    return result;
  }

  // A blocking write of the input on a thread of its own; it ends at the
  // latest when the child (and with it the pipe's other end) is gone.
  std::thread writer;
  if (options.input.empty()) {
    CloseHandle(inWrite);
  } else {
    writer = std::thread([inWrite, &options] {
      std::size_t written = 0;
      while (written < options.input.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(options.input.size() - written, 1 << 16));
        if (!::WriteFile(inWrite, options.input.data() + written, chunk, &n, nullptr)) break;
        written += n;
      }
      CloseHandle(inWrite);
    });
  }

  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  bool outOpen = true, errOpen = true, exited = false;
  while (outOpen || errOpen || !exited) {
    if (outOpen) outOpen = Drain(outRead, result.out);
    if (errOpen) errOpen = Drain(errRead, result.err);
    if (!exited) exited = WaitForSingleObject(child.process, 0) == WAIT_OBJECT_0;
    if (std::chrono::steady_clock::now() > deadline) {
      if (!exited) {
        result.timedOut = true;
        Kill(child, 137);
        exited = true;
      }
      break;
    }
    if (outOpen || errOpen || !exited) WaitForSingleObject(child.process, exited ? 5 : 2);
  }
  if (writer.joinable()) writer.join();
  DWORD code = 0;
  if (GetExitCodeProcess(child.process, &code) && code != STILL_ACTIVE) result.status = static_cast<int>(code);
  CloseHandle(outRead);
  CloseHandle(errRead);
  CloseHandle(child.process);
  if (child.job) CloseHandle(child.job);
  return result;
}

std::uint16_t UnusedLoopbackPort() {
  StartWinsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  const bool ok = s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0;
  if (s != INVALID_SOCKET) closesocket(s);
  if (!ok) throw std::runtime_error("cannot bind a loopback port");
  return ntohs(a.sin_port);
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv) {
  HANDLE outRead, outWrite;
  MakePipe(outRead, outWrite);
  const char* p = std::getenv("PATH");
  Started child = Start(FindProgram(argv.at(0), p ? p : ""), argv, "", nullptr, GetStdHandle(STD_INPUT_HANDLE),
                        outWrite, GetStdHandle(STD_ERROR_HANDLE));
  CloseHandle(outWrite);
  if (!child.process) {
    CloseHandle(outRead);
    throw std::runtime_error(child.error);
  }
  if (child.job) CloseHandle(child.job);  // the job stays while its process lives
  m_process = reinterpret_cast<std::intptr_t>(child.process);
  m_out = reinterpret_cast<std::intptr_t>(outRead);
}

BackgroundProcess::~BackgroundProcess() { Stop(); }

std::optional<std::string> BackgroundProcess::ReadLine(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::size_t nl = m_pending.find('\n');
    if (nl != std::string::npos) {
      std::string line = m_pending.substr(0, nl);
      m_pending.erase(0, nl + 1);
      // A child's standard output in text mode ends its lines with CR LF.
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (m_out == -1 || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    const std::size_t before = m_pending.size();
    if (!Drain(reinterpret_cast<HANDLE>(m_out), m_pending)) {
      CloseHandle(reinterpret_cast<HANDLE>(m_out));
      m_out = -1;
    } else if (m_pending.size() == before) {
      Sleep(2);
    }
  }
}

void BackgroundProcess::Stop() {
  if (m_process != -1) {
    HANDLE h = reinterpret_cast<HANDLE>(m_process);
    TerminateProcess(h, 143);
    WaitForSingleObject(h, 5000);
    CloseHandle(h);
    m_process = -1;
  }
  if (m_out != -1) {
    CloseHandle(reinterpret_cast<HANDLE>(m_out));
    m_out = -1;
  }
}

}  // namespace testing_support
