#include "support/support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tolvane-test-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Give write permission back first so that a non-root run can remove all.
  for (auto it = fs::recursive_directory_iterator(m_path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(m_path, ec);
}

void WriteFile(const std::string& path, const std::string& bytes, unsigned mode) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  f.close();
  if (!f) throw std::runtime_error("cannot write " + path);
  chmod(path.c_str(), mode);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return std::string();
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool IsDir(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> ListTree(const std::string& root) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::string rel = fs::relative(it->path(), root).string();
    if (it->is_directory() && !it->is_symlink()) rel += '/';
    out.push_back(rel);
  }
  std::sort(out.begin(), out.end());
  return out;
}

void ScopedEnv::Remember(const std::string& name) {
  if (m_saved.count(name)) return;
  const char* v = std::getenv(name.c_str());
  m_saved[name] = v ? std::optional<std::string>(v) : std::nullopt;
}

void ScopedEnv::Set(const std::string& name, const std::string& value) {
  Remember(name);
  setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnv::Unset(const std::string& name) {
  Remember(name);
  unsetenv(name.c_str());
}

ScopedEnv::~ScopedEnv() {
  for (const auto& [name, value] : m_saved) {
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
  }
}

ScopedLocale::ScopedLocale(const char* name) : m_saved(std::setlocale(LC_ALL, nullptr)) {
  m_bOk = std::setlocale(LC_ALL, name) != nullptr;
}

ScopedLocale::~ScopedLocale() { std::setlocale(LC_ALL, m_saved.c_str()); }

ScopedGbkLocale::ScopedGbkLocale() {
  ProcessResult made = RunProcess({"localedef", "-c", "-i", "zh_CN", "-f", "GBK", m_dir / "zh_CN.GBK"});
  if (made.status != 0) {
    m_strError = "localedef cannot make zh_CN.GBK here: " + made.err;
    return;
  }
  m_env.Set("LOCPATH", m_dir.path());
  m_pLocale = std::make_unique<ScopedLocale>("zh_CN.GBK");
  if (!m_pLocale->ok()) m_strError = "zh_CN.GBK was made but cannot be set";
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

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random() & 0xFF);
  return s;
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

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
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
  m_pid = pid;
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
    pollfd p{m_out, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    ssize_t n = read(m_out, buf, sizeof buf);
    if (n <= 0) {
      close(m_out);
      m_out = -1;
    } else {
      m_pending.append(buf, static_cast<std::size_t>(n));
    }
  }
}

void BackgroundProcess::Stop() {
  if (m_pid > 0) {
    kill(m_pid, SIGTERM);
    int status;
    bool gone = WaitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, std::chrono::seconds(1));
    if (!gone) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, &status, 0);
    }
    m_pid = -1;
  }
  if (m_out >= 0) {
    close(m_out);
    m_out = -1;
  }
}

HttpPeer::HttpPeer(const std::string& routesJson, int port) {
  WriteFile(m_dir / "routes.json", routesJson);
  WriteFile(m_dir / "requests.log", "");
  m_process = std::make_unique<BackgroundProcess>(std::vector<std::string>{
      TOLVANE_PYTHON3, std::string(TOLVANE_TEST_DATA) + "/support/http_peer.py", "--port", std::to_string(port),
      "--routes", m_dir / "routes.json", "--log", m_dir / "requests.log"});
  std::optional<std::string> line = m_process->ReadLine(std::chrono::seconds(20));
  if (!line || line->rfind("PORT ", 0) != 0) throw std::runtime_error("http_peer.py did not start");
  m_port = std::stoi(line->substr(5));
}

std::string HttpPeer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
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
