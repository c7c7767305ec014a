// tolvane-fetch run as a user runs it: against nginx, through the proxies,
// interrupted with Ctrl-C, several at once, on a terminal, and compared
// with what curl makes of the same servers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cutting_relay.h"
#include "loopback.h"
#include "support/peers.h"
#include "support/support.h"
#include "target.h"

using loopback::Responder;
using loopback::ScriptedServer;
using testing_support::DantePeer;
using testing_support::Exists;
using testing_support::ListTree;
using testing_support::MicrosocksPeer;
using testing_support::NginxPeer;
using testing_support::ProcessResult;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::TinyproxyPeer;
using testing_support::WaitFor;
using testing_support::WriteFile;
using namespace std::chrono_literals;

extern char** environ;

namespace {

const e2e::Target& g_target = e2e::Target::Current();

std::string FetchBin() { return g_target.Program("TOLVANE_E2E_FETCH", TOLVANE_FETCH_BIN); }

ProcessResult Fetch(const std::vector<std::string>& args, const testing_support::ProcessOptions& o = {}) {
  return g_target.Run(FetchBin(), args, o);
}

// curl without ~/.curlrc and without proxies from the environment: only
// the ones a test names.
ProcessResult Curl(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"curl", "-q", "-sS", "--max-time", "60"};
  argv.insert(argv.end(), args.begin(), args.end());
  testing_support::ProcessOptions o;
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    o.env[name] = std::nullopt;
  return RunProcess(argv, o);
}

// Files served by nginx from www/, downloads go to out/ and curl/.
class TolvaneFetch : public ::testing::Test {
 protected:
  TolvaneFetch() {
    WriteFile(m_dir / "www/one", "x");
    WriteFile(m_dir / "www/block", RandomBytes(10241, 1));
    WriteFile(m_dir / "www/big.bin", RandomBytes(3 * 1024 * 1024 + 17, 2));
    WriteFile(m_dir / "www/empty", "");
    std::filesystem::create_directories(m_dir / "out");
    std::filesystem::create_directories(m_dir / "curl");
    m_nginx = std::make_unique<NginxPeer>(m_dir / "www");
  }

  std::string Url(const std::string& name) const { return m_nginx->Url("/" + name); }
  std::string Source(const std::string& name) const { return ReadFile(m_dir / ("www/" + name)); }
  std::string Out(const std::string& name) const { return m_dir / ("out/" + name); }

  // Fetches each file with the same proxy options as curl does and expects
  // both to have the bytes of the file.
  void ExpectSameAsCurl(const std::string& label, const std::vector<std::string>& fetchArgs,
                        const std::vector<std::string>& curlArgs) {
    for (const std::string name : {"one", "big.bin"}) {
      const std::string target = Out(label + "-" + name);
      std::vector<std::string> args = fetchArgs;
      args.insert(args.end(), {Url(name), target});
      const ProcessResult r = Fetch(args);
      EXPECT_EQ(r.status, 0) << label << " " << name << ": " << r.err;
      EXPECT_TRUE(ReadFile(target) == Source(name)) << label << " " << name;
      EXPECT_FALSE(Exists(target + ".down")) << label << " " << name;

      const std::string curlTarget = m_dir / ("curl/" + label + "-" + name);
      args = curlArgs;
      args.insert(args.end(), {"-o", curlTarget, Url(name)});
      const ProcessResult c = Curl(args);
      EXPECT_EQ(c.status, 0) << label << " " << name << " (curl): " << c.err;
      EXPECT_TRUE(ReadFile(curlTarget) == ReadFile(target)) << label << " " << name << ": differs from curl's";
    }
  }

  TempDir m_dir;
  std::unique_ptr<NginxPeer> m_nginx;
};

// Occurrences of what in text.
int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size())) ++n;
  return n;
}

// tolvane-fetch in the background, its standard error in a file, so that
// the test can send it signals.
class Running {
 public:
  Running(const std::vector<std::string>& args, const std::string& errPath) {
    std::vector<std::string> argv = {TOLVANE_FETCH_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // Whatever the test was started with, Ctrl-C reaches the tool.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    if (posix_spawn(&m_pid, cargv[0], &actions, &attr, cargv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  ~Running() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

  bool Started() const { return m_pid > 0; }
  void Signal(int sig) const { kill(m_pid, sig); }
  // Exit status, 128 + signal, or -1 when it is still running after limit.
  int Wait(std::chrono::milliseconds limit) {
    int status = 0;
    if (!WaitFor([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, limit)) return -1;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t m_pid = -1;
};

std::string Ok(const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

// The value of a "name: value" line of --verbose.
std::string Field(const std::string& err, const std::string& name) {
  std::smatch m;
  const std::regex line("(^|\n)" + name + ": *([^\n]*)");
  return std::regex_search(err, m, line) ? m[2].str() : "<none>";
}

}  // namespace

TEST_F(TolvaneFetch, DownloadsWhatCurlDownloads) {
  for (const std::string name : {"one", "block", "big.bin"}) {
    const ProcessResult r = Fetch({Url(name), Out(name)});
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "") << name;  // no terminal, no bar
    EXPECT_TRUE(ReadFile(Out(name)) == Source(name)) << name;
    const ProcessResult c = Curl({"-o", m_dir / ("curl/" + name), Url(name)});
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_TRUE(ReadFile(m_dir / ("curl/" + name)) == ReadFile(Out(name))) << name;
  }
  // Again over an existing file, into directories that are not there yet,
  // by a URL without scheme and a relative path.
  WriteFile(Out("big.bin"), "old");
  EXPECT_EQ(Fetch({Url("big.bin"), Out("big.bin")}).status, 0);
  EXPECT_TRUE(ReadFile(Out("big.bin")) == Source("big.bin"));
  testing_support::ProcessOptions o;
  o.cwd = m_dir.path();
  const ProcessResult r = Fetch({Url("block").substr(7), "out/a/b/block"}, o);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadFile(Out("a/b/block")) == Source("block"));
  EXPECT_EQ(ListTree(m_dir / "out"), (std::vector<std::string>{"a/", "a/b/", "a/b/block", "big.bin", "block", "one"}));
}

TEST_F(TolvaneFetch, FailuresThatCurlDoesNotSee) {
  // curl saves an empty file and nginx's error page, and calls both success.
  struct {
    const char* name;
    std::string url;
    int status;
    const char* message;
  } cases[] = {
      {"empty file", Url("empty"), 3, "failed (no length announced, or 0)"},
      {"404", Url("missing"), 4, "not found (404)"},
      {"directory without index", Url("www/"), 3, "failed (HTTP/1.1 403 Forbidden)"},
      {"nobody listening", "http://127.0.0.1:" + std::to_string(testing_support::UnusedLoopbackPort()) + "/one", 3,
       "failed (no answer)"},
  };
  std::filesystem::create_directories(m_dir / "www/www");
  for (const auto& c : cases) {
    const ProcessResult r = Fetch({c.url, Out("f")});
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.err, "tolvane-fetch: " + c.url + ": " + c.message + "\n") << c.name;
    EXPECT_TRUE(ListTree(m_dir / "out").empty()) << c.name;
    EXPECT_EQ(Fetch({"--quiet", c.url, Out("f")}).err, "") << c.name;
  }
  EXPECT_EQ(Curl({"-o", m_dir / "curl/empty", Url("empty")}).status, 0);
  EXPECT_EQ(Curl({"-o", m_dir / "curl/missing", Url("missing")}).status, 0);
}

TEST_F(TolvaneFetch, UsageErrors) {
  const std::string url = Url("one"), file = Out("one");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {url},
      {url, file, "extra"},
      {"--bogus", url, file},
      {"-x", url, file},
      {url, file, "--seed"},
      {"--seed", "x", url, file},
      {"--seed", "2147483648", url, file},
      {"--seed", "+5", url, file},
      {"--seed", " 5", url, file},
      {"--seed", "", url, file},
      {"--retry-mode", "3", url, file},
      {"--retry-mode", "-1", url, file},
      {"--max-retries", "-1", url, file},
      {"--max-retries", "4294967296", url, file},
      {"--retry-delay", "1e3", url, file},
      {"--connect-timeout", "-2", url, file},
      {"--receive-timeout", "2147483648", url, file},
      {"--send-timeout", "10s", url, file},
      {"--proxy", "ftp://127.0.0.1:1", url, file},
      {"--proxy", "127.0.0.1:1080", url, file},
      {"--proxy", "socks5://127.0.0.1", url, file},
      {"--proxy", "socks5://:1080", url, file},
      {"--proxy", "socks5://127.0.0.1:0", url, file},
      {"--proxy", "socks5://127.0.0.1:65536", url, file},
      {"--proxy", "socks5://user@127.0.0.1:1080", url, file},
      {"--proxy-user", "nocolon", url, file},
      {"--user", "nocolon", url, file},
      {"--user-agent", "a\r\nX-Injected: 1", url, file},
      {"--referer", "http://r/\n", url, file},
      {url + "\r\nX-Injected: 1", file},
      {"--quiet=yes", url, file},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const std::string& a : args) shown += "[" + a + "] ";
    const ProcessResult r = Fetch(args);
    EXPECT_EQ(r.status, 64) << shown;
    EXPECT_NE(r.err.find("usage: tolvane-fetch [OPTIONS] URL FILE"), std::string::npos) << shown << r.err;
    EXPECT_EQ(r.out, "") << shown;
  }
  // Passwords are not echoed.
  EXPECT_EQ(Fetch({"--user", "secret-password", url, file}).err.find("secret-password"), std::string::npos);
  EXPECT_TRUE(ListTree(m_dir / "out").empty());
  EXPECT_EQ(m_nginx->AccessLog(), "");

  const ProcessResult help = Fetch({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--mutex-prefix TEXT"), std::string::npos);

  // The ends of every range are values, and "-5" after --seed is one too.
  const ProcessResult r = Fetch({"--seed", "-5", "--max-retries", "4294967295", "--retry-delay=0",
                                 "--connect-timeout", "-1", "--receive-timeout", "2147483647", "--send-timeout", "0",
                                 "--retry-mode", "2", url, "--seed=-2147483648", "--", file});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(file), "x");
}

TEST_F(TolvaneFetch, ThroughTinyproxy) {
  {
    TinyproxyPeer proxy;
    ASSERT_NE(proxy.port(), 0);
    const std::string at = "127.0.0.1:" + std::to_string(proxy.port());
    ExpectSameAsCurl("tinyproxy", {"--proxy", "http://" + at}, {"-x", "http://" + at});
    // Ours and curl's went through it.
    EXPECT_EQ(Count(proxy.ServerLog(), "GET " + Url("big.bin") + " HTTP/1.1"), 2) << proxy.ServerLog();
  }
  TinyproxyPeer proxy("tolvane", "s3cret.pw");
  ASSERT_NE(proxy.port(), 0);
  const std::string at = "http://127.0.0.1:" + std::to_string(proxy.port());
  ExpectSameAsCurl("tinyproxy-auth", {"--proxy", at, "--proxy-user", "tolvane:s3cret.pw"},
                   {"-x", at, "--proxy-user", "tolvane:s3cret.pw"});
  // curl saves the proxy's error page and calls it success.
  struct {
    const char* name;
    std::vector<std::string> args;
    const char* status;
  } refused[] = {
      {"no credentials", {"--proxy", at}, "HTTP/1.0 407 Proxy Authentication Required"},
      {"wrong password", {"--proxy", at, "--proxy-user", "tolvane:wrong"}, "HTTP/1.0 401 Unauthorized"},
  };
  for (const auto& c : refused) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {Url("one"), Out("refused")});
    const ProcessResult r = Fetch(args);
    EXPECT_EQ(r.status, 3) << c.name;
    EXPECT_NE(r.err.find(c.status), std::string::npos) << c.name << ": " << r.err;
    EXPECT_FALSE(Exists(Out("refused"))) << c.name;
  }
  EXPECT_EQ(Curl({"-x", at, "-o", m_dir / "curl/refused", Url("one")}).status, 0);
}

TEST_F(TolvaneFetch, ThroughDante) {
  if (!DantePeer::CanRun()) GTEST_SKIP() << "danted needs root";
  {
    DantePeer proxy;
    ASSERT_NE(proxy.port(), 0);
    const std::string at = "://127.0.0.1:" + std::to_string(proxy.port());
    for (const std::string kind : {"socks4", "socks5"}) {
      ExpectSameAsCurl("dante-" + kind, {"--proxy", kind + at}, {"-x", kind + at});
    }
    // A SOCKS4 user id goes along unchecked.
    ExpectSameAsCurl("dante-socks4-id", {"--proxy", "socks4" + at, "--proxy-user", "someone:"},
                     {"-x", "socks4" + at, "--proxy-user", "someone:"});
    // danted does not speak 4A: a server whose name resolves here goes by
    // address, as SOCKS4. curl's 4A always sends the name, which danted refuses.
    ExpectSameAsCurl("dante-socks4a", {"--proxy", "socks4a" + at}, {"-x", "socks4" + at});
    EXPECT_NE(Curl({"-x", "socks4a" + at, "-o", m_dir / "curl/4a", Url("one")}).status, 0);
    // Four ways, two files, ours and curl's: each one a tunnel of danted's.
    EXPECT_TRUE(WaitFor([&] { return Count(proxy.ServerLog(), "pass(1): tcp/connect [") == 16; }, 2s))
        << proxy.ServerLog();
  }
  DantePeer proxy(DantePeer::Auth::kUserName);
  ASSERT_NE(proxy.port(), 0);
  const std::string at = "127.0.0.1:" + std::to_string(proxy.port());
  const std::string credentials = proxy.user() + ":" + proxy.password();
  ExpectSameAsCurl("dante-socks5-user", {"--proxy", "socks5://" + at, "--proxy-user", credentials},
                   {"-x", "socks5://" + at, "--proxy-user", credentials});
  struct {
    const char* name;
    std::vector<std::string> args;
  } refused[] = {
      {"socks5 without credentials", {"--proxy", "socks5://" + at}},
      {"socks5 with a wrong password", {"--proxy", "socks5://" + at, "--proxy-user", proxy.user() + ":wrong"}},
      {"socks4", {"--proxy", "socks4://" + at, "--proxy-user", credentials}},
  };
  for (const auto& c : refused) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {Url("one"), Out("refused")});
    const ProcessResult r = Fetch(args);
    EXPECT_EQ(r.status, 3) << c.name << ": " << r.err;
    EXPECT_FALSE(Exists(Out("refused"))) << c.name;
  }
}

TEST_F(TolvaneFetch, ThroughMicrosocks) {
  {
    MicrosocksPeer proxy("", "");
    ASSERT_NE(proxy.port(), 0);
    const std::string at = "socks5://127.0.0.1:" + std::to_string(proxy.port());
    ExpectSameAsCurl("microsocks", {"--proxy", at}, {"-x", at});
    EXPECT_NE(proxy.ServerLog().find("connected to 127.0.0.1:" + std::to_string(m_nginx->port())),
              std::string::npos);
  }
  MicrosocksPeer proxy("tolvane", "pass:word");
  ASSERT_NE(proxy.port(), 0);
  const std::string at = "socks5://127.0.0.1:" + std::to_string(proxy.port());
  ExpectSameAsCurl("microsocks-user", {"--proxy", at, "--proxy-user", "tolvane:pass:word"},
                   {"-x", at, "--proxy-user", "tolvane:pass:word"});
  const ProcessResult r = Fetch({"--proxy", at, Url("one"), Out("refused")});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_FALSE(Exists(Out("refused")));
}

TEST(TolvaneFetchOptions, ReachTheRequest) {
  Responder server({Ok("body")});
  TempDir t;
  const ProcessResult r = Fetch({"--user", "name:pa:ss", "--user-agent", "Agent/1 (test)", "--referer",
                                 "http://from.example/page", server.Url("/f"), t / "f"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string request = server.Request(0);
  EXPECT_NE(request.find("GET /f HTTP/1.1\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("Authorization: Basic bmFtZTpwYTpzcw==\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("User-Agent: Agent/1 (test)\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("Referer: http://from.example/page\r\n"), std::string::npos) << request;
}

TEST(TolvaneFetchOptions, RetriesAndTheirFinalState) {
  const std::string busy = "HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n";
  const std::string body = RandomBytes(50000, 3);
  struct {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::string> answers;
    int status;
    int connections;
    const char* retries;
    const char* broken;
    long long minMs;
  } cases[] = {
      {"mode 1, limit 2, delay 200", {"--retry-mode", "1", "--max-retries", "2", "--retry-delay", "200"}, {busy}, 3, 3,
       "2", "0", 400},
      {"no retries by default", {}, {busy, Ok(body)}, 3, 1, "0", "0", 0},
      {"mode 2 until it recovers", {"--retry-mode", "2", "--retry-delay", "10"}, {busy, busy, busy, Ok(body)}, 0, 4,
       "0", "0", 30},
      {"a body cut once", {}, {Ok(body).substr(0, 20000), Ok(body)}, 0, 2, "0", "1", 0},
  };
  for (const auto& c : cases) {
    Responder server(c.answers);
    TempDir t;
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--verbose", server.Url("/dir/f"), t / "f"});
    const auto t0 = std::chrono::steady_clock::now();
    const ProcessResult r = Fetch(args);
    EXPECT_GE(loopback::MillisecondsSince(t0), c.minMs) << c.name;
    EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
    EXPECT_EQ(server.connections(), c.connections) << c.name;
    EXPECT_EQ(Field(r.err, "retries"), c.retries) << c.name;
    EXPECT_EQ(Field(r.err, "broken transfers"), c.broken) << c.name;
    EXPECT_EQ(Field(r.err, "URL"), server.Url("/dir/f")) << c.name;
    if (c.status == 0) {
      EXPECT_TRUE(ReadFile(t / "f") == body) << c.name;
      EXPECT_EQ(Field(r.err, "result"), "0 (done)") << c.name;
      EXPECT_EQ(Field(r.err, "downloaded"), "50000 of 50000") << c.name;
    } else {
      EXPECT_EQ(Field(r.err, "result"), "3 (failed)") << c.name;
      EXPECT_NE(r.err.find("\n  HTTP/1.1 503 Busy\n"), std::string::npos) << c.name << r.err;
      EXPECT_NE(r.err.find(": failed (HTTP/1.1 503 Busy)\n"), std::string::npos) << c.name << r.err;
    }
  }
}

TEST_F(TolvaneFetch, VerboseShowsTheFinalState) {
  // nginx stamps its answer with the file's time, which the download keeps.
  struct timespec times[2] = {{1306922400, 0}, {1306922400, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (m_dir / "www/block").c_str(), times, 0), 0);
  ProcessResult r = Fetch({"--verbose", Url("block"), Out("block")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Field(r.err, "result"), "0 (done)");
  EXPECT_EQ(Field(r.err, "URL"), Url("block"));
  EXPECT_EQ(Field(r.err, "file"), g_target.Path(Out("block")));
  EXPECT_EQ(Field(r.err, "content length"), "10241");
  EXPECT_EQ(Field(r.err, "received"), "10241");
  EXPECT_EQ(Field(r.err, "downloaded"), "10241 of 10241");
  EXPECT_EQ(Field(r.err, "retries"), "0");
  EXPECT_EQ(Field(r.err, "broken transfers"), "0");
  EXPECT_EQ(Field(r.err, "last modified"), "2011-06-01 10:00:00 UTC");
  EXPECT_NE(r.err.find("\n  HTTP/1.1 200 OK\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\n  Content-Length: 10241\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\n  Last-Modified: Wed, 01 Jun 2011 10:00:00 GMT\n"), std::string::npos) << r.err;
  struct stat st {};
  ASSERT_EQ(stat(Out("block").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1306922400);

  r = Fetch({"--verbose", Url("missing"), Out("missing")});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(Field(r.err, "result"), "4 (not found (404))");
  EXPECT_NE(r.err.find("\n  HTTP/1.1 404 Not Found\n"), std::string::npos) << r.err;
}

TEST(TolvaneFetchOptions, VerboseKeepsTheServersControlBytesOffTheTerminal) {
  Responder server({Ok("x", "X-Title: \x1b]0;owned\x07\x1b[2J\x9b" "31m\r\n")});
  TempDir t;
  const ProcessResult r = Fetch({"--verbose", server.Url("/f"), t / "f"});
  ASSERT_EQ(r.status, 0) << r.err;
  // 0x9b is the one-byte CSI of a terminal that takes C1 controls; in the
  // code page of the Windows program (1252) it is the character U+203A.
  const std::string csi = g_target.wine() ? "\x9b" : "\\x9b";
  EXPECT_NE(r.err.find("\n  X-Title: \\x1b]0;owned\\x07\\x1b[2J" + csi + "31m\n"), std::string::npos) << r.err;
  for (char c : r.err) {
    EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F) || (g_target.wine() && c == '\x9b')) << static_cast<int>(c);
  }
}

TEST(TolvaneFetchSignals, CtrlCStopsIt) {
  E2E_POSIX_ONLY("signals");
  // The body stalls after its first bytes; the server lets go once the
  // client has closed, or after 20 s.
  ScriptedServer server([](int fd, int) {
    loopback::ReadRequestHeader(fd);
    loopback::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + std::string(20000, 'a'));
    loopback::ReadToEnd(fd, 20000);
  });
  const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/f";
  const std::string nobody = "http://127.0.0.1:" + std::to_string(testing_support::UnusedLoopbackPort()) + "/f";
  struct {
    const char* name;
    std::vector<std::string> options;
    std::string url;
    bool bodyStarted;
  } cases[] = {
      {"waiting for the body", {"--receive-timeout", "60000"}, url, true},
      {"pausing before a retry", {"--retry-mode", "2", "--retry-delay", "600000"}, nobody, false},
  };
  for (const auto& c : cases) {
    TempDir t;
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--verbose", "--seed", "-5", c.url, t / "f"});
    Running fetch(args, t / "err");
    ASSERT_TRUE(fetch.Started());
    if (c.bodyStarted) {
      ASSERT_TRUE(WaitFor([&] { return Exists(t / "f.down-5") && ReadFile(t / "f.down-5").size() == 20000; }))
          << c.name;
    } else {
      std::this_thread::sleep_for(500ms);
    }
    const auto t0 = std::chrono::steady_clock::now();
    fetch.Signal(SIGINT);
    EXPECT_EQ(fetch.Wait(5s), 2) << c.name;
    EXPECT_LT(loopback::MillisecondsSince(t0), 3000) << c.name;
    const std::string err = ReadFile(t / "err");
    EXPECT_EQ(Field(err, "result"), "2 (stopped)") << c.name << err;
    EXPECT_EQ(Field(err, "broken transfers"), "0") << c.name;
    EXPECT_NE(err.find(": stopped\n"), std::string::npos) << c.name << err;
    EXPECT_FALSE(Exists(t / "f")) << c.name;
    // The temporary file of a stopped download stays, under its seed's name.
    EXPECT_EQ(Exists(t / "f.down-5"), c.bodyStarted) << c.name;
  }
}

TEST_F(TolvaneFetch, SeveralAtOnceOnTheSameFile) {
  WriteFile(m_dir / "www/same.bin", RandomBytes(8 * 1024 * 1024, 4));
  const std::string prefix = "tolvane-e2e-" + std::to_string(getpid());
  for (int round = 0; round < 3; ++round) {
    const std::string dir = m_dir / ("out/" + std::to_string(round));
    std::vector<ProcessResult> results(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
      threads.emplace_back([&, i] {
        results[i] = Fetch({"--mutex-prefix", prefix, "--seed", std::to_string(i), Url("same.bin"), dir + "/same.bin"});
      });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(results[i].status, 0) << round << " " << i << ": " << results[i].err;
    EXPECT_TRUE(ReadFile(dir + "/same.bin") == Source("same.bin")) << round;
    EXPECT_EQ(ListTree(dir), std::vector<std::string>{"same.bin"}) << round;
  }
}

// The bar's last drawing, at the end of the download of big.bin.
const std::regex kLastBar("\r" "big\\.bin \\[#{24}\\] 100 %  3\\.0 MiB / 3\\.0 MiB  [0-9.]+ (B|KiB|MiB|GiB)/s *\r?\n$");

TEST_F(TolvaneFetch, ProgressBarOnATerminal) {
  E2E_POSIX_ONLY("a pseudo-terminal");
  // stderr on a pseudo-terminal: the bar comes by itself.
  const std::string pty = R"(
import os, pty, subprocess, sys
master, slave = pty.openpty()
p = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=slave)
os.close(slave)
out = b''
while True:
    try:
        chunk = os.read(master, 65536)
    except OSError:
        break
    if not chunk:
        break
    out += chunk
sys.stdout.buffer.write(out)
sys.exit(p.wait(timeout=60))
)";
  auto onTerminal = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {TOLVANE_PYTHON3, "-c", pty, TOLVANE_FETCH_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv);
  };
  ProcessResult r = onTerminal({Url("big.bin"), Out("tty")});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_search(r.out, kLastBar)) << r.out;
  EXPECT_NE(r.out.find("\rbig.bin [                        ]   0 %  0 B / 3.0 MiB"), std::string::npos) << r.out;
  EXPECT_TRUE(ReadFile(Out("tty")) == Source("big.bin"));

  r = onTerminal({"--quiet", Url("big.bin"), Out("quiet")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST_F(TolvaneFetch, ProgressBarOnRequest) {
  // --progress draws it into a pipe as well.
  const ProcessResult r = Fetch({"--progress", Url("big.bin"), Out("pipe")});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_search(r.err, kLastBar)) << r.err;
  EXPECT_TRUE(ReadFile(Out("pipe")) == Source("big.bin"));
}

TEST(TolvaneFetchProgress, RedrawnAtMostTenTimesASecond) {
  // 40 blocks 25 ms apart: a notice each, but about one bar in four.
  ScriptedServer server([](int fd, int) {
    loopback::ReadRequestHeader(fd);
    loopback::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(40 * 10240) + "\r\n\r\n");
    for (int i = 0; i < 40; ++i) {
      std::this_thread::sleep_for(25ms);
      if (!loopback::SendAll(fd, std::string(10240, 'b'))) return;
    }
  });
  TempDir t;
  const auto t0 = std::chrono::steady_clock::now();
  const ProcessResult r = Fetch({"--progress", "http://127.0.0.1:" + std::to_string(server.port()) + "/slow", t / "f"});
  const double seconds = static_cast<double>(loopback::MillisecondsSince(t0)) / 1000;
  ASSERT_EQ(r.status, 0) << r.err;
  const int draws = Count(r.err, "\r");
  EXPECT_GE(draws, 3) << r.err;
  EXPECT_LE(draws, static_cast<int>(seconds * 10) + 2) << seconds << " s: " << r.err;
  EXPECT_NE(r.err.find("] 100 %  400.0 KiB / 400.0 KiB"), std::string::npos) << r.err;
}

TEST_F(TolvaneFetch, FileSizeLimitIsAFailedWriteNotACrash) {
  E2E_POSIX_ONLY("the file-size limit and its signal");
  // Python ignores SIGXFSZ and its children would inherit that: the default
  // comes back before the exec, so that the tool has to ignore it itself.
  const std::string limited = R"(
import os, resource, signal, sys
signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
os.execv(sys.argv[1], sys.argv[1:])
)";
  const ProcessResult r = RunProcess({TOLVANE_PYTHON3, "-c", limited, TOLVANE_FETCH_BIN, Url("big.bin"), Out("f")});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("failed (the transfer broke off, or the file could not be written"), std::string::npos) << r.err;
  EXPECT_EQ(ListTree(m_dir / "out"), std::vector<std::string>{"f.down"});
  EXPECT_LE(ReadFile(Out("f.down")).size(), 65536u);
}

TEST_F(TolvaneFetch, GoesOnWhereAConnectionBroke) {
  const std::size_t kMiB = 1 << 20;
  WriteFile(m_dir / "www/cut.bin", RandomBytes(24 * kMiB, 3));
  const int nginxPort = m_nginx->port();
  {
    CuttingRelay relay(nginxPort, 4 * kMiB);
    const ProcessResult r = Fetch({"--quiet", relay.Url("http", "/cut.bin"), Out("cut.bin")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(Out("cut.bin")) == Source("cut.bin"));
    // Each connection gets further; the headers aside, nothing comes twice.
    EXPECT_EQ(relay.connections(), 7);
    EXPECT_LT(relay.passed(), 24 * kMiB + 7 * 1024);
    EXPECT_EQ(Count(m_nginx->AccessLog(), "GET /cut.bin"), 7);
  }
  {
    // Starting from zero each time, the download never gets past 4 MiB:
    // after the first break, five more that make no progress are the most.
    CuttingRelay relay(nginxPort, 4 * kMiB);
    const ProcessResult r = Fetch({"--quiet", "--no-resume", relay.Url("http", "/cut.bin"), Out("again.bin")});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(relay.connections(), 7);
    EXPECT_FALSE(Exists(Out("again.bin")));
  }
}

namespace {

// The same files served by nginx over TLS, with a certificate from an
// authority made for the test, which both tools are told to trust.
class TolvaneFetchHttps : public TolvaneFetch {
 protected:
  TolvaneFetchHttps() {
    m_authority.Issue("server", "DNS:localhost,IP:127.0.0.1");
    testing_support::NginxTls tls;
    tls.certificate = m_authority.Certificate("server");
    tls.key = m_authority.Key("server");
    m_nginx = std::make_unique<NginxPeer>(m_dir / "www", tls);
  }
  std::vector<std::string> Trusting(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--cacert", m_authority.ca()});
    return args;
  }
  testing_support::TestAuthority m_authority;
};

}  // namespace

TEST_F(TolvaneFetchHttps, DownloadsWhatCurlDownloadsThroughEveryProxy) {
  ExpectSameAsCurl("tls", Trusting({}), Trusting({}));
  {
    TinyproxyPeer proxy;
    const std::string at = "http://127.0.0.1:" + std::to_string(proxy.port());
    ExpectSameAsCurl("tls-tinyproxy", Trusting({"--proxy", at}), Trusting({"-x", at}));
    // Tunnels, not requests that the proxy could read.
    EXPECT_EQ(Count(proxy.ServerLog(), "CONNECT 127.0.0.1:" + std::to_string(m_nginx->port())), 4) << proxy.ServerLog();
  }
  {
    TinyproxyPeer proxy("tolvane", "s3cret.pw");
    const std::string at = "http://127.0.0.1:" + std::to_string(proxy.port());
    ExpectSameAsCurl("tls-tinyproxy-auth", Trusting({"--proxy", at, "--proxy-user", "tolvane:s3cret.pw"}),
                     Trusting({"-x", at, "--proxy-user", "tolvane:s3cret.pw"}));
    // A refused tunnel fails at once, as any 4xx.
    const ProcessResult r = Fetch(Trusting({"--proxy", at, "--retry-mode", "2", Url("one"), Out("refused")}));
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("407"), std::string::npos) << r.err;
  }
  {
    MicrosocksPeer proxy("", "");
    const std::string at = "socks5://127.0.0.1:" + std::to_string(proxy.port());
    ExpectSameAsCurl("tls-microsocks", Trusting({"--proxy", at}), Trusting({"-x", at}));
  }
  if (DantePeer::CanRun()) {
    DantePeer proxy;
    const std::string at = "socks4://127.0.0.1:" + std::to_string(proxy.port());
    ExpectSameAsCurl("tls-dante", Trusting({"--proxy", at}), Trusting({"-x", at}));
  }
}

TEST_F(TolvaneFetchHttps, WhatItTrusts) {
  // A bundle that cannot be read or holds no certificate is a usage error.
  WriteFile(m_dir / "not-a-bundle.pem", "-----BEGIN NOTHING-----\nAAAA\n-----END NOTHING-----\n");
  for (const std::string& bundle : {m_dir / "missing.pem", m_dir / "not-a-bundle.pem", m_dir.path()}) {
    const ProcessResult r = Fetch({"--cacert", bundle, Url("one"), Out("usage")});
    EXPECT_EQ(r.status, 64) << bundle;
    EXPECT_NE(r.err.find("--cacert"), std::string::npos) << r.err;
  }
  if (g_target.wine()) return;  // Schannel reads no SSL_CERT_FILE
  // The store is where SSL_CERT_FILE says, and --cacert wins over it.
  testing_support::ProcessOptions trusting;
  trusting.env["SSL_CERT_FILE"] = m_authority.ca();
  EXPECT_EQ(Fetch({Url("one"), Out("by-env")}, trusting).status, 0);
  m_authority.SelfSigned("stranger", "IP:127.0.0.1");
  EXPECT_EQ(Fetch({"--cacert", m_authority.Certificate("stranger"), Url("one"), Out("stranger")}, trusting).status, 3);
}
