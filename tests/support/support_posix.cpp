// The test support's POSIX half: processes by posix_spawn, sockets, stat
// and utimensat, the environment, locales made by localedef.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/backend.h"
#include "support/support.h"

extern char** environ;

namespace testing_support {

std::filesystem::path FsPath(const std::string& bytes) { return bytes; }

std::string PathBytes(const std::filesystem::path& path, bool generic) {
  return generic ? path.generic_string() : path.string();
}

void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
  if (value) setenv(name.c_str(), value->c_str(), 1);
  else unsetenv(name.c_str());
}

std::vector<std::string> ListEntries(const std::string& root) {
  namespace fs = std::filesystem;
  std::vector<std::string> out;
  std::error_code ec;
  const fs::path top = FsPath(root);
  for (auto it = fs::recursive_directory_iterator(top, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::string rel = PathBytes(it->path().lexically_relative(top), true);
    if (it->is_directory() && !it->is_symlink()) rel += '/';
    out.push_back(rel);
  }
  return out;
}

void RemoveTree(const std::string& root) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path dir = FsPath(root);
  if (fs::remove_all(dir, ec) != static_cast<std::uintmax_t>(-1) && !ec) return;
  // What a test left without write permission (a directory for a user other
  // than root) gets it back, and then goes.
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(dir, ec);
}

FileTimes GetFileTimes(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return FileTimes{};
  return FileTimes{st.st_atime, st.st_mtime};
}

bool SetFileTimes(const std::string& path, const FileTimes& times) {
  const timespec ts[2] = {{static_cast<time_t>(times.access), 0}, {static_cast<time_t>(times.modification), 0}};
  return utimensat(AT_FDCWD, path.c_str(), ts, 0) == 0;
}

int ProcessId() { return static_cast<int>(getpid()); }

int OpenHandleCount() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') ++n;
  }
  closedir(dir);
  return n - 1;  // the directory's own descriptor
}

bool CanRunUnixTools() { return true; }

ScopedGbkLocale::ScopedGbkLocale() {
  ProcessResult made = RunProcess({"localedef", "-c", "-i", "zh_CN", "-f", "GBK", m_dir / "zh_CN.GBK"});
  if (made.status != 0) {
    m_strError = "localedef cannot make zh_CN.GBK here: " + made.err;
    return;
  }
  m_env.Set("LOCPATH", m_dir.path());
  m_pLocale = std::make_unique<ScopedLocale>("zh_CN.GBK");
  if (!m_pLocale->ok()) m_strError = "zh_CN.GBK was made but cannot be set";
  else if (MB_CUR_MAX != 2) m_strError = "zh_CN.GBK is set, but its characters are not of two bytes at most";
}

ScopedGbkLocale::~ScopedGbkLocale() = default;

namespace {

std::vector<std::string> BuildEnv(const std::map<std::string, std::optional<std::string>>& changes) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) env[std::string(*e, static_cast<std::size_t>(eq - *e))] = eq + 1;
  }
  for (const auto& [name, value] : changes) {
    if (value) env[name] = *value;
    else env.erase(name);
  }
  std::vector<std::string> out;
  for (const auto& [name, value] : env) out.push_back(name + "=" + value);
  return out;
}

std::string FindOnPath(const std::string& prog, const std::vector<std::string>& env) {
  if (prog.find('/') != std::string::npos) return prog;
  std::string path = "/usr/bin:/bin";
  for (const std::string& e : env) {
    if (e.rfind("PATH=", 0) == 0) path = e.substr(5);
  }
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + prog;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return prog;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  std::vector<std::string> env = BuildEnv(options.env);
  std::string exe = FindOnPath(argv.at(0), env);

  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) || pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC))
    throw std::runtime_error("pipe failed");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The child starts with SIGPIPE at its default even though we ignore it.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attr, 0);

  std::vector<char*> cargv, cenv;
  for (const std::string& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const std::string& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);

  pid_t pid;
  int rc = posix_spawn(&pid, exe.c_str(), &actions, &attr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc != 0) {
    close(inPipe[1]);
    close(outPipe[0]);
    close(errPipe[0]);
    result.err = std::string("cannot start ") + exe + ": " + std::strerror(rc);
    return result;
  }

  std::size_t written = 0;
  if (options.input.empty()) {
    close(inPipe[1]);
    inPipe[1] = -1;
  } else {
    fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
  }
  signal(SIGPIPE, SIG_IGN);

  auto deadline = std::chrono::steady_clock::now() + options.timeout;
  bool exited = false;
  int wstatus = 0;
  int fds[2] = {outPipe[0], errPipe[0]};
  std::string* sinks[2] = {&result.out, &result.err};
  while (fds[0] >= 0 || fds[1] >= 0 || !exited) {
    if (!exited) {
      pid_t w = waitpid(pid, &wstatus, WNOHANG);
      if (w == pid) exited = true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      if (!exited) {
        result.timedOut = true;
        kill(-pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
        exited = true;
      }
      break;
    }
    pollfd p[3];
    int n = 0;
    for (int i = 0; i < 2; ++i) {
      if (fds[i] >= 0) p[n++] = pollfd{fds[i], POLLIN, 0};
    }
    if (inPipe[1] >= 0) p[n++] = pollfd{inPipe[1], POLLOUT, 0};
    if (n == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    poll(p, static_cast<nfds_t>(n), 20);
    for (int k = 0; k < n; ++k) {
      if (p[k].fd == inPipe[1]) {
        if (p[k].revents & (POLLOUT | POLLERR | POLLHUP)) {
          ssize_t w = write(inPipe[1], options.input.data() + written, options.input.size() - written);
          if (w > 0) written += static_cast<std::size_t>(w);
          if (w < 0 || written == options.input.size()) {
            close(inPipe[1]);
            inPipe[1] = -1;
          }
        }
        continue;
      }
      if (!(p[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      for (int i = 0; i < 2; ++i) {
        if (fds[i] != p[k].fd) continue;
        char buf[65536];
        ssize_t r = read(fds[i], buf, sizeof buf);
        if (r > 0) {
          sinks[i]->append(buf, static_cast<std::size_t>(r));
        } else if (r == 0 || errno != EINTR) {
          close(fds[i]);
          fds[i] = -1;
        }
      }
    }
  }
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
  if (inPipe[1] >= 0) close(inPipe[1]);
  if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
  else if (WIFSIGNALED(wstatus)) result.status = 128 + WTERMSIG(wstatus);
  return result;
}

std::uint16_t UnusedLoopbackPort() {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    throw std::runtime_error("cannot bind a loopback port");
  }
  close(s);
  return ntohs(a.sin_port);
}

}  // namespace testing_support

namespace testing_support {

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv) {
  int outPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  std::vector<char*> cargv;
  for (const std::string& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  if (rc != 0) {
    close(outPipe[0]);
    throw std::runtime_error("cannot start " + argv[0]);
  }
  m_process = pid;
  m_out = outPipe[0];
}

BackgroundProcess::~BackgroundProcess() { Stop(); }

std::optional<std::string> BackgroundProcess::ReadLine(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::size_t nl = m_pending.find('\n');
    if (nl != std::string::npos) {
      std::string line = m_pending.substr(0, nl);
      m_pending.erase(0, nl + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (m_out < 0 || left.count() <= 0) return std::nullopt;
    const int out = static_cast<int>(m_out);
    pollfd p{out, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    ssize_t n = read(out, buf, sizeof buf);
    if (n <= 0) {
      close(out);
      m_out = -1;
    } else {
      m_pending.append(buf, static_cast<std::size_t>(n));
    }
  }
}

void BackgroundProcess::Stop() {
  if (m_process > 0) {
    const pid_t pid = static_cast<pid_t>(m_process);
    kill(pid, SIGTERM);
    int status;
    bool gone = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(1));
    if (!gone) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    m_process = -1;
  }
  if (m_out >= 0) {
    close(static_cast<int>(m_out));
    m_out = -1;
  }
}

HttpPeer::HttpPeer(const std::string& routesJson, int port) { Start(routesJson, {"--port", std::to_string(port)}); }

HttpPeer::HttpPeer(const std::string& routesJson, const std::string& certificate, const std::string& key, int port) {
  m_bTls = true;
  Start(routesJson, {"--port", std::to_string(port), "--tls-certificate", certificate, "--tls-key", key});
}

void HttpPeer::Start(const std::string& routesJson, std::vector<std::string> options) {
  WriteFile(m_dir / "routes.json", routesJson);
  WriteFile(m_dir / "requests.log", "");
  std::vector<std::string> argv = {TOLVANE_PYTHON3, std::string(TOLVANE_TEST_DATA) + "/support/http_peer.py",
                                   "--routes", m_dir / "routes.json", "--log", m_dir / "requests.log"};
  argv.insert(argv.end(), options.begin(), options.end());
  m_process = std::make_unique<BackgroundProcess>(argv);
  std::optional<std::string> line = m_process->ReadLine(std::chrono::seconds(20));
  if (!line || line->rfind("PORT ", 0) != 0) throw std::runtime_error("http_peer.py did not start");
  m_port = std::stoi(line->substr(5));
}

std::string HttpPeer::Url(const std::string& path) const {
  return (m_bTls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(m_port) + path;
}

std::vector<std::string> HttpPeer::Requests() const {
  std::vector<std::string> out;
  std::stringstream s(ReadFile(m_dir / "requests.log"));
  std::string line;
  while (std::getline(s, line)) {
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

}  // namespace testing_support
