#include "support/peers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <crypt.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <thread>

namespace testing_support {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

namespace {

// The servers live in sbin, which a user's PATH may lack.
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(std::string(path ? path : "/usr/bin:/bin") + ":/usr/sbin:/sbin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::string();
}

// A double-quoted string for nginx's and tinyproxy's configuration files.
std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Starts exe in a new process group with its output in logPath. The child
// is killed when the thread that started it ends, so that a crashed test
// leaves no server behind.
int Spawn(const std::string& exe, const std::vector<std::string>& argv, const std::string& logPath) {
  int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  std::vector<char*> cargv;
  for (const std::string& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  pid_t parent = getpid();
  pid_t pid = (log >= 0 && null >= 0) ? fork() : -1;
  if (pid == 0) {
    // Only async-signal-safe calls until exec: the test may have threads.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(null, 0);
    dup2(log, 1);
    dup2(log, 2);
    // Nothing else of the test's: a socket it closes must really close.
    close_range(3, ~0U, 0);
    execv(exe.c_str(), cargv.data());
    static const char kMsg[] = "exec failed\n";
    ssize_t ignored = write(2, kMsg, sizeof kMsg - 1);
    (void)ignored;
    _exit(127);
  }
  // Also here, so that killpg reaches the child even before it has run.
  if (pid > 0) setpgid(pid, pid);
  if (log >= 0) close(log);
  if (null >= 0) close(null);
  return pid;
}

// Whether pid has ended, leaving it to be reaped later: until then its
// process group's id cannot be taken by another process.
bool HasExited(int pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Whether pid itself holds a socket listening on 127.0.0.1:port. Merely
// connecting could reach another program that took the port first.
bool ListensOn(int pid, int port) {
  std::set<std::string> listeners;
  std::ifstream tcp("/proc/net/tcp");
  std::string line;
  std::getline(tcp, line);  // column names
  while (std::getline(tcp, line)) {
    unsigned addr = 0, localPort = 0, state = 0;
    unsigned long inode = 0;
    if (std::sscanf(line.c_str(), "%*s %X:%X %*s %X %*s %*s %*s %*s %*s %lu", &addr, &localPort, &state, &inode) != 4)
      continue;
    // The address is the kernel's in-memory word, hence network order.
    if (addr == htonl(INADDR_LOOPBACK) && static_cast<int>(localPort) == port && state == 0x0A)
      listeners.insert("socket:[" + std::to_string(inode) + "]");
  }
  if (listeners.empty()) return false;
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code linkEc;
    if (listeners.count(fs::read_symlink(fd.path(), linkEc).string())) return true;
  }
  return false;
}

ProcessOptions Quick() {
  ProcessOptions options;
  options.timeout = seconds(10);
  return options;
}

// useradd and userdel give up at once (status 1) while another test holds
// the lock on /etc/passwd.
ProcessResult RunUserTool(const std::vector<std::string>& argv) {
  ProcessResult r;
  const auto deadline = Clock::now() + seconds(10);
  for (;;) {
    r = RunProcess(argv, Quick());
    if (r.status != 1 || Clock::now() >= deadline) return r;
    std::this_thread::sleep_for(milliseconds(100));
  }
}

std::string NextUserName() {
  // Unique across the processes of a parallel run; useradd allows 32 bytes.
  static std::atomic<unsigned> s_nUsers{0};
  return "tolvane-peer-" + std::to_string(getpid()) + "-" + std::to_string(++s_nUsers);
}

// Users of test programs that crashed: their process is gone.
void RemoveStaleUsers() {
  std::ifstream passwd("/etc/passwd");
  std::string line;
  while (std::getline(passwd, line)) {
    int pid = 0;
    unsigned n = 0;
    char end = 0;
    if (std::sscanf(line.c_str(), "tolvane-peer-%d-%u%c", &pid, &n, &end) == 3 && end == ':' && pid > 0 &&
        kill(pid, 0) != 0 && errno == ESRCH)
      RunUserTool({FindProgram("userdel"), line.substr(0, line.find(':'))});
  }
}

}  // namespace

PeerServer::~PeerServer() { Stop(); }

std::string PeerServer::ServerLog() const { return ReadFile(m_dir / "server.log"); }

void PeerServer::Start(const std::string& name, const std::function<std::vector<std::string>(int port)>& prepare) {
  const auto deadline = Clock::now() + seconds(10);
  std::string failure;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int port = UnusedLoopbackPort();
    std::vector<std::string> argv = prepare(port);
    std::string exe = FindProgram(argv.at(0));
    if (exe.empty()) {
      ADD_FAILURE() << name << " is not installed (scripts/install-deps installs it)";
      return;
    }
    m_pid = Spawn(exe, argv, m_dir / "server.log");
    if (m_pid < 0) {
      ADD_FAILURE() << "cannot start " << exe;
      return;
    }
    bool exited = false;
    WaitFor([&] { return (exited = HasExited(m_pid)) || ListensOn(m_pid, port); },
            std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
    if (!exited && ListensOn(m_pid, port)) {
      m_port = port;
      return;
    }
    failure = name + (exited ? " exited before it listened on 127.0.0.1:" : " did not listen on 127.0.0.1:") +
              std::to_string(port) + (exited ? "" : " within 10 s");
    Stop();
    // An exit may be a lost race for the port; anything else is no better the second time.
    if (!exited || Clock::now() >= deadline) break;
  }
  ADD_FAILURE() << failure << "; its log:\n" << ServerLog();
}

void PeerServer::Stop() {
  if (m_pid <= 0) return;
  killpg(m_pid, SIGTERM);
  WaitFor([&] { return HasExited(m_pid); }, seconds(3));
  // Whatever is left of the group: the unreaped leader still holds its id.
  killpg(m_pid, SIGKILL);
  int status;
  waitpid(m_pid, &status, 0);
  m_pid = -1;
  m_port = 0;
}

NginxPeer::NginxPeer(const std::string& root) : NginxPeer(root, NginxTls{}) {}

NginxPeer::NginxPeer(const std::string& root, const NginxTls& tls) : m_bTls(!tls.certificate.empty()) {
  const std::string absRoot = fs::absolute(root).string();
  Start("nginx", [&](int port) {
    std::string d = dir().path();
    std::string listen = "    listen 127.0.0.1:" + std::to_string(port) + (m_bTls ? " ssl" : "") + ";\n";
    if (m_bTls) {
      // Headers up to 64 KiB: a request may take several records.
      listen += "    ssl_certificate " + Quoted(fs::absolute(tls.certificate).string()) + ";\n    ssl_certificate_key " +
                Quoted(fs::absolute(tls.key).string()) + ";\n    ssl_protocols " + tls.protocols +
                ";\n    large_client_header_buffers 4 64k;\n";
      if (!tls.ciphers.empty()) listen += "    ssl_ciphers " + Quoted(tls.ciphers) + ";\n";
    }
    // One process and no user directive: it serves as the test's own user.
    WriteFile(dir() / "nginx.conf",
              "daemon off;\n"
              "master_process off;\n"
              "pid " + Quoted(d + "/nginx.pid") + ";\n"
              "error_log stderr info;\n"
              "events { worker_connections 128; }\n"
              "http {\n"
              "  log_format requests '$request';\n"
              "  access_log " + Quoted(d + "/access.log") + " requests;\n"
              "  client_body_temp_path " + Quoted(d + "/body") + ";\n"
              "  proxy_temp_path " + Quoted(d + "/proxy") + ";\n"
              "  fastcgi_temp_path " + Quoted(d + "/fastcgi") + ";\n"
              "  uwsgi_temp_path " + Quoted(d + "/uwsgi") + ";\n"
              "  scgi_temp_path " + Quoted(d + "/scgi") + ";\n"
              "  types {}\n"
              "  default_type application/octet-stream;\n"
              "  sendfile on;\n"
              "  server {\n" +
                  listen +
              "    root " + Quoted(absRoot) + ";\n" +
                  tls.extra +
              "  }\n"
              "}\n");
    return std::vector<std::string>{"nginx", "-p", d + "/", "-c", d + "/nginx.conf", "-e", "stderr"};
  });
}

std::string NginxPeer::Url(const std::string& path) const {
  return (m_bTls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port()) + path;
}

std::string NginxPeer::AccessLog() const { return ReadFile(dir() / "access.log"); }

TinyproxyPeer::TinyproxyPeer(const std::string& user, const std::string& password) {
  // Its configuration grammar knows no quoting for these.
  auto plain = [](const std::string& s) {
    return !s.empty() && s.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._") ==
                             std::string::npos;
  };
  if (!user.empty() && !(plain(user) && plain(password))) {
    ADD_FAILURE() << "tinyproxy takes only letters, digits and -._ in a user name and password";
    return;
  }
  // Onward only to loopback, by name: a literal 127.x address or localhost.
  WriteFile(dir() / "filter", "^127\\.[0-9]*\\.[0-9]*\\.[0-9]*$\n^localhost$\n");
  Start("tinyproxy", [&](int port) {
    std::string conf = "Port " + std::to_string(port) + "\n"
                       "Listen 127.0.0.1\n"
                       "Allow 127.0.0.1\n"
                       "Timeout 30\n"
                       "MaxClients 64\n"
                       "LogLevel Info\n"
                       "PidFile " + Quoted(dir() / "tinyproxy.pid") + "\n"
                       "Filter " + Quoted(dir() / "filter") + "\n"
                       "FilterDefaultDeny Yes\n";
    if (!user.empty()) conf += "BasicAuth " + user + " " + password + "\n";
    WriteFile(dir() / "tinyproxy.conf", conf);
    return std::vector<std::string>{"tinyproxy", "-d", "-c", dir() / "tinyproxy.conf"};
  });
}

DantePeer::DantePeer(Auth auth) {
  if (!CanRun()) {
    ADD_FAILURE() << "DantePeer needs root and danted: ask DantePeer::CanRun() first";
    return;
  }
  if (auth == Auth::kUserName && !AddUser()) return;
  Start("danted", [&](int port) {
    WriteFile(dir() / "danted.conf",
              "logoutput: stderr\n"
              "internal: 127.0.0.1 port = " + std::to_string(port) + "\n"
              "external: 127.0.0.1\n"
              "clientmethod: none\n"
              "socksmethod: " + std::string(auth == Auth::kUserName ? "username" : "none") + "\n"
              // Root throughout: a change of user would cancel the kill
              // that follows the test program's end.
              "user.privileged: root\n"
              "user.unprivileged: root\n"
              "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
              "socks pass {\n"
              "  from: 127.0.0.0/8 to: 127.0.0.0/8\n"
              "  command: connect\n"
              "  log: error connect\n"
              "}\n"
              "socks block {\n"
              "  from: 0.0.0.0/0 to: 0.0.0.0/0\n"
              "  log: error connect\n"
              "}\n");
    return std::vector<std::string>{"danted", "-f", dir() / "danted.conf", "-p", dir() / "danted.pid"};
  });
}

DantePeer::~DantePeer() {
  Stop();
  RemoveUser();
}

bool DantePeer::CanRun() { return geteuid() == 0 && !FindProgram("danted").empty(); }

bool DantePeer::AddUser() {
  RemoveStaleUsers();
  std::random_device random;
  char buf[17];
  std::snprintf(buf, sizeof buf, "%08x%08x", random(), random());
  std::string password = buf;
  auto data = std::make_unique<crypt_data>();
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  const char* hash = crypt_gensalt_rn("$6$", 0, nullptr, 0, salt, sizeof salt)
                         ? crypt_rn(password.c_str(), salt, data.get(), sizeof *data)
                         : nullptr;
  if (hash == nullptr || hash[0] == '*') {
    ADD_FAILURE() << "cannot hash a password for the SOCKS user";
    return false;
  }
  const std::string useradd = FindProgram("useradd");
  std::string name = NextUserName();
  ProcessResult r;
  // 9: the name is taken, left by a crashed program whose pid this one now has.
  for (int i = 0; i < 50 && (i == 0 || r.status == 9); ++i) {
    if (i > 0) name = NextUserName();
    r = RunUserTool({useradd, "-M", "-N", "-s", "/usr/sbin/nologin", "-p", hash, name});
  }
  if (r.status != 0) {
    ADD_FAILURE() << "useradd " << name << " failed (status " << r.status << "): " << r.err;
    return false;
  }
  m_strUser = name;
  m_strPassword = password;
  return true;
}

void DantePeer::RemoveUser() {
  if (m_strUser.empty()) return;
  ProcessResult r = RunUserTool({FindProgram("userdel"), m_strUser});
  if (r.status != 0 && r.status != 6)  // 6: already gone
    ADD_FAILURE() << "userdel " << m_strUser << " failed (status " << r.status << "): " << r.err;
  m_strUser.clear();
}

MicrosocksPeer::MicrosocksPeer(const std::string& user, const std::string& password) {
  Start("microsocks", [&](int port) {
    // -b: its onward connections start from loopback.
    std::vector<std::string> argv{"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port), "-b", "127.0.0.1"};
    if (!user.empty()) argv.insert(argv.end(), {"-u", user, "-P", password});
    return argv;
  });
}

}  // namespace testing_support

namespace testing_support {

namespace {

void Openssl(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<std::string> argv = {"openssl"};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions o;
  o.cwd = cwd;
  o.timeout = std::chrono::seconds(30);
  const ProcessResult r = RunProcess(argv, o);
  if (r.status != 0) ADD_FAILURE() << "openssl " << args[0] << " failed: " << r.err;
}

}  // namespace

TestAuthority::TestAuthority() {
  const std::string d = m_dir.path();
  WriteFile(m_dir / "index.txt", "");
  // A name and serial numbers of its own: a TLS stack that has met another
  // authority of the same name (an earlier test's) must not take one for
  // the other.
  std::random_device random;
  const std::string unique = std::to_string(random()) + std::to_string(random());
  char serial[32];
  std::snprintf(serial, sizeof serial, "%08X%08X\n", random(), random() | 1u);
  WriteFile(m_dir / "serial", serial);
  fs::create_directories(m_dir / "issued");
  WriteFile(m_dir / "ca.cnf",
            "[ca]\ndefault_ca = test\n"
            "[test]\ndir = " + d + "\ndatabase = $dir/index.txt\nserial = $dir/serial\n"
            "new_certs_dir = $dir/issued\ncertificate = $dir/ca.pem\nprivate_key = $dir/ca.key\n"
            "default_md = sha256\npolicy = any\nunique_subject = no\ncopy_extensions = none\n"
            "[any]\ncommonName = supplied\n");
  Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", "ca.key",
           "-out", "ca.pem", "-days", "3650", "-subj", "/CN=Tolvane Test Authority " + unique, "-addext",
           "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
          d);
}

std::string TestAuthority::Issue(const std::string& name, const std::string& altNames, const std::string& start,
                                 const std::string& end) {
  const std::string d = m_dir.path();
  Openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", name + ".key", "-out",
           name + ".csr", "-subj", "/CN=" + name},
          d);
  WriteFile(m_dir / (name + ".ext"), "basicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\nsubjectAltName = " +
                                         altNames + "\n");
  Openssl({"ca", "-config", "ca.cnf", "-batch", "-notext", "-in", name + ".csr", "-out", name + ".pem", "-extfile",
           name + ".ext", "-startdate", start.empty() ? "20260101000000Z" : start, "-enddate",
           end.empty() ? "20991231000000Z" : end},
          d);
  return name;
}

std::string TestAuthority::SelfSigned(const std::string& name, const std::string& altNames) {
  Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", name + ".key",
           "-out", name + ".pem", "-days", "365", "-subj", "/CN=" + name, "-addext", "subjectAltName=" + altNames},
          m_dir.path());
  return name;
}

}  // namespace testing_support
