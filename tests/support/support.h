// Helpers shared by the tests: scratch directories, files, child processes.
// What needs the operating system lives in support_posix.cpp or
// support_win.cpp; the rest is std::filesystem. Paths are bytes as the code
// under test takes them: in the ANSI code page on Windows.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A path written with '/' in the system's form (its separator instead).
std::string SystemPath(std::string slashed);

// A fresh directory in the system's temporary directory ($TMPDIR or /tmp,
// %TMP% on Windows), removed with all it holds.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return m_path; }
  // path() + separator + rel, every '/' in rel the system's separator, so
  // that the code under test sees the paths its users would give it.
  std::string operator/(const std::string& rel) const;

 private:
  std::string m_path;
};

// Makes the missing directories on the way. A mode without the owner's
// write bit gives a read-only file (the read-only attribute on Windows).
void WriteFile(const std::string& path, const std::string& bytes, unsigned mode = 0644);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);   // links count, dangling ones too
bool IsDir(const std::string& path);    // links do not count
bool IsReadOnly(const std::string& path);  // no write permission for the owner
// Every path below root, relative to it, sorted, always with '/' between
// components; directories end with '/'.
std::vector<std::string> ListTree(const std::string& root);

// Seconds since 1970; zeros when the path cannot be read.
struct FileTimes {
  std::int64_t access = 0;
  std::int64_t modification = 0;
};
FileTimes GetFileTimes(const std::string& path);
bool SetFileTimes(const std::string& path, const FileTimes& times);

int ProcessId();
// Descriptors (Linux) or handles (Windows) that this process holds open;
// -1 when they cannot be counted.
int OpenHandleCount();

// False where the tests cannot run Unix programs (zip, bsdtar, python3,
// sh): a Windows program under Wine can start them but never learn how
// they ended.
bool CanRunUnixTools();

// Sets or unsets environment variables for one scope.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  void Set(const std::string& name, const std::string& value);
  void Unset(const std::string& name);

 private:
  void Remember(const std::string& name);
  std::map<std::string, std::optional<std::string>> m_saved;
};

// Runs one scope under the locale name (LC_ALL) and returns to the old one.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name);
  ~ScopedLocale();
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;
  bool ok() const { return m_bOk; }

 private:
  std::string m_saved;
  bool m_bOk = false;
};

// A double-byte locale for one scope, where a trail byte can be 0x5C ('\\'):
// on Linux zh_CN.GBK compiled into a directory of its own (LOCPATH); on
// Windows the ANSI code page is the process's from its start, so there it
// is GBK's (936) only in a process started in a Chinese locale. ok() is
// false, with the reason in error(), when there is none.
class ScopedGbkLocale {
 public:
  ScopedGbkLocale();
  ~ScopedGbkLocale();
  ScopedGbkLocale(const ScopedGbkLocale&) = delete;
  ScopedGbkLocale& operator=(const ScopedGbkLocale&) = delete;
  bool ok() const { return m_strError.empty(); }
  const std::string& error() const { return m_strError; }

 private:
  TempDir m_dir;
  ScopedEnv m_env;
  std::unique_ptr<ScopedLocale> m_pLocale;
  std::string m_strError;
};

struct ProcessResult {
  int status = -1;        // exit status, or 128 + signal
  bool timedOut = false;  // killed after the limit
  std::string out;
  std::string err;
};

struct ProcessOptions {
  std::string cwd;                                          // empty: inherit
  std::map<std::string, std::optional<std::string>> env;    // changes to this environment; nullopt unsets
  std::string input;                                        // standard input
  std::chrono::milliseconds timeout{std::chrono::seconds(60)};
};

// Runs argv (argv[0] searched on PATH as given in options.env, else ours)
// and waits for it, at most options.timeout, after which it is killed. On
// Windows the arguments reach the program as its C runtime parses them.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// n bytes of a pseudo-random sequence fixed by seed.
std::string RandomBytes(std::size_t n, unsigned seed);

// A port of 127.0.0.1 on which nothing listens (bound once, then released).
std::uint16_t UnusedLoopbackPort();

// Polls until pred() holds or the limit passes; returns pred()'s last value.
bool WaitFor(const std::function<bool()>& pred,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace testing_support

namespace testing_support {

// A child process that runs in the background until Stop() or destruction
// (SIGTERM, then SIGKILL after a second; on Windows it is terminated). Its
// standard output is a pipe that ReadLine() reads; its standard error is
// inherited.
class BackgroundProcess {
 public:
  explicit BackgroundProcess(const std::vector<std::string>& argv);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;
  // One line of its output (without the line feed); nullopt after the limit.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
  void Stop();

 private:
  std::intptr_t m_process = -1;  // pid, or process handle
  std::intptr_t m_out = -1;      // descriptor, or pipe handle
  std::string m_pending;
};

// tests/support/http_peer.py on 127.0.0.1, serving routes (a JSON object,
// see the script) and logging the requests it receives. Linux build only:
// it runs python3.
class HttpPeer {
 public:
  explicit HttpPeer(const std::string& routesJson, int port = 0);
  // Over TLS with the certificate chain and key of these PEM files.
  HttpPeer(const std::string& routesJson, const std::string& certificate, const std::string& key, int port = 0);
  int port() const { return m_port; }
  std::string Url(const std::string& path) const;
  // The requests received so far, one JSON text each.
  std::vector<std::string> Requests() const;

 private:
  void Start(const std::string& routesJson, std::vector<std::string> options);
  TempDir m_dir;
  std::unique_ptr<BackgroundProcess> m_process;
  int m_port = 0;
  bool m_bTls = false;
};

}  // namespace testing_support
