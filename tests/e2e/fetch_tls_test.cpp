// tolvane-fetch over https against nginx with certificates of an authority
// made for the run: what it trusts with --cacert, what it refuses at once,
// and what a stream cut in the middle of the body is. Natively this is the
// OpenSSL backend; under Wine the same cases drive Schannel.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "loopback.h"
#include "support/peers.h"
#include "support/support.h"
#include "target.h"

using loopback::ScriptedServer;
using testing_support::Exists;
using testing_support::NginxPeer;
using testing_support::NginxTls;
using testing_support::ProcessResult;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const e2e::Target& g_target = e2e::Target::Current();

ProcessResult Fetch(const std::vector<std::string>& args) {
  return g_target.Run(g_target.Program("TOLVANE_E2E_FETCH", TOLVANE_FETCH_BIN), args);
}

// The value of a "name: value" line of --verbose.
std::string Field(const std::string& err, const std::string& name) {
  std::smatch m;
  const std::regex line("(^|\n)" + name + ": *([^\n]*)");
  return std::regex_search(err, m, line) ? m[2].str() : "<none>";
}

const char kOpensslConfig[] = R"([req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[authority]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[elsewhere]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:elsewhere.invalid
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[backdated]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
)";

// An authority and the servers' certificates, made once for all cases:
// ca.pem signs server (127.0.0.1 and localhost), elsewhere (another name)
// and expired (127.0.0.1, a month of 2020); self is self-signed for
// 127.0.0.1; stranger.pem is an authority that signed none of them.
class Certificates {
 public:
  Certificates() {
    WriteFile(m_dir / "openssl.cnf", kOpensslConfig);
    WriteFile(m_dir / "index.txt", "");
    WriteFile(m_dir / "serial", "1000\n");
    const std::vector<std::string> ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    auto req = [&](std::vector<std::string> args) {
      std::vector<std::string> argv = {"openssl", "req", "-config", "openssl.cnf"};
      argv.insert(argv.end(), ec.begin(), ec.end());
      argv.insert(argv.end(), args.begin(), args.end());
      Run(argv);
    };
    for (const std::string ca : {"ca", "stranger"})
      req({"-x509", "-extensions", "authority", "-days", "30", "-subj", "/CN=Tolvane test " + ca, "-keyout",
           ca + ".key", "-out", ca + ".pem"});
    for (const std::string name : {"server", "elsewhere", "expired"})
      req({"-new", "-subj", "/CN=" + name, "-keyout", name + ".key", "-out", name + ".csr"});
    for (const std::string name : {"server", "elsewhere"})
      Run({"openssl", "x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
           "-days", "30", "-extfile", "openssl.cnf", "-extensions", name, "-out", name + ".pem"});
    // openssl x509 of 3.0 sets no start date; openssl ca does.
    Run({"openssl", "ca", "-batch", "-config", "openssl.cnf", "-name", "backdated", "-cert", "ca.pem", "-keyfile",
         "ca.key", "-in", "expired.csr", "-startdate", "20200101000000Z", "-enddate", "20200201000000Z",
         "-extfile", "openssl.cnf", "-extensions", "server", "-notext", "-out", "expired.pem"});
    req({"-x509", "-extensions", "server", "-days", "30", "-subj", "/CN=self", "-keyout", "self.key", "-out",
         "self.pem"});
  }

  std::string operator/(const std::string& name) const { return m_dir / name; }
  NginxTls Serving(const std::string& name, const std::string& protocols = "TLSv1.2 TLSv1.3") const {
    return NginxTls{m_dir / (name + ".pem"), m_dir / (name + ".key"), protocols};
  }

 private:
  void Run(const std::vector<std::string>& argv) {
    testing_support::ProcessOptions o;
    o.cwd = m_dir.path();
    const ProcessResult r = RunProcess(argv, o);
    ASSERT_EQ(r.status, 0) << argv[1] << ": " << r.err;
  }

  TempDir m_dir;
};

class TolvaneFetchTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_certificates = new Certificates; }
  static void TearDownTestSuite() {
    delete s_certificates;
    s_certificates = nullptr;
  }

  TolvaneFetchTls() {
    WriteFile(m_dir / "www/one", "x");
    WriteFile(m_dir / "www/big.bin", RandomBytes(3 * 1024 * 1024 + 17, 4));
  }

  std::string Source(const std::string& name) const { return ReadFile(m_dir / ("www/" + name)); }
  std::string Out(const std::string& name) const { return m_dir / ("out/" + name); }
  std::unique_ptr<NginxPeer> Serve(const NginxTls& tls) { return std::make_unique<NginxPeer>(m_dir / "www", tls); }

  static Certificates* s_certificates;
  TempDir m_dir;
};

Certificates* TolvaneFetchTls::s_certificates = nullptr;

int PortOf(const std::string& url) { return std::stoi(url.substr(url.rfind(':') + 1)); }

// Passes the bytes of each connection on to 127.0.0.1:port both ways, and
// closes both ends, without a word of TLS, once cut bytes came back.
class CuttingRelay {
 public:
  CuttingRelay(int port, std::size_t cut)
      : m_server([port, cut](loopback::PeerSocket client, int) { Relay(static_cast<int>(client), port, cut); }) {}
  std::string Url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(m_server.port()) + path; }
  int connections() const { return m_server.connections(); }

 private:
  static void Relay(int client, int port, std::size_t cut) {
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
      char buffer[65536];
      pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      // Ten seconds of silence end it too: nothing here waits unbounded.
      for (std::size_t left = cut; left > 0 && poll(fds, 2, 10000) > 0;) {
        const bool fromServer = fds[1].revents != 0;
        const int from = fromServer ? server : client;
        const int to_ = fromServer ? client : server;
        const std::size_t room = fromServer ? std::min(left, sizeof buffer) : sizeof buffer;
        const ssize_t n = recv(from, buffer, room, 0);
        if (n <= 0 || send(to_, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) break;
        if (fromServer) left -= static_cast<std::size_t>(n);
      }
    }
    close(server);
  }

  ScriptedServer m_server;
};

}  // namespace

TEST_F(TolvaneFetchTls, DownloadsFromAServerItsBundleTrusts) {
  // Both versions, by address (an IP SAN) and by name (a DNS SAN); the long
  // Referer makes the request more than one record.
  for (const std::string protocols : {"TLSv1.2", "TLSv1.3"}) {
    const auto nginx = Serve(s_certificates->Serving("server", protocols));
    const std::string byName = "https://localhost:" + std::to_string(PortOf(nginx->Url(""))) + "/big.bin";
    // Wine 8's Schannel does not offer TLS 1.3, though asked to: a server
    // that speaks nothing older is refused there, and not retried.
    const bool spoken = !(g_target.wine() && protocols == "TLSv1.3");
    for (const std::string& url : {nginx->Url("/one"), nginx->Url("/big.bin"), byName}) {
      const std::string name = url.substr(url.rfind('/') + 1);
      const std::string label = protocols + " " + url;
      const std::string target = Out(protocols + "-" + name);
      std::filesystem::remove(target);
      const ProcessResult r = Fetch({"--verbose", "--retry-mode", "1", "--retry-delay", "10", "--cacert",
                                     *s_certificates / "ca.pem", "--referer", std::string(20000, 'r'), url, target});
      if (!spoken) {
        EXPECT_EQ(r.status, 3) << label << ": " << r.err;
        EXPECT_EQ(Field(r.err, "retries"), "0") << label;
        EXPECT_NE(r.err.find("TLS handshake failed"), std::string::npos) << label << ": " << r.err;
        continue;
      }
      EXPECT_EQ(r.status, 0) << label << ": " << r.err;
      EXPECT_EQ(Field(r.err, "retries"), "0") << label;
      EXPECT_TRUE(ReadFile(target) == Source(name)) << label;
      EXPECT_FALSE(Exists(target + ".down")) << label;
    }
  }
}

TEST_F(TolvaneFetchTls, RefusesWhatItCannotTrustAtOnce) {
  // Each refusal ends the download on the first try, though retries are
  // asked for: a certificate does not get better by asking again.
  struct {
    const char* name;
    const char* certificate;
    const char* bundle;  // empty: the system's store
    bool byName;         // localhost instead of 127.0.0.1
  } cases[] = {
      {"issued for another name", "elsewhere", "ca.pem", false},
      {"another name, asked by name", "elsewhere", "ca.pem", true},
      {"self-signed", "self", "ca.pem", false},
      {"expired", "expired", "ca.pem", false},
      {"issued by an authority not in the bundle", "server", "stranger.pem", false},
      {"the test's authority is in no system store", "server", "", false},
  };
  for (const auto& c : cases) {
    const auto nginx = Serve(s_certificates->Serving(c.certificate));
    const std::string url =
        c.byName ? "https://localhost:" + std::to_string(PortOf(nginx->Url(""))) + "/one" : nginx->Url("/one");
    std::vector<std::string> args = {"--verbose", "--retry-mode", "1", "--max-retries", "3", "--retry-delay", "10000"};
    if (*c.bundle != '\0') args.insert(args.end(), {"--cacert", *s_certificates / c.bundle});
    args.insert(args.end(), {url, Out("one")});
    const auto t0 = std::chrono::steady_clock::now();
    const ProcessResult r = Fetch(args);
    // Far below one retry's delay, however slow Wine starts.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(10000)) << c.name;
    EXPECT_EQ(r.status, 3) << c.name << ": " << r.err;
    EXPECT_EQ(Field(r.err, "retries"), "0") << c.name;
    EXPECT_NE(r.err.find("certificate refused"), std::string::npos) << c.name << ": " << r.err;
    EXPECT_FALSE(Exists(Out("one"))) << c.name;
    EXPECT_EQ(nginx->AccessLog(), "") << c.name;  // no request went out
  }
}

TEST_F(TolvaneFetchTls, WhatIsNoTlsServer) {
  // A server that hangs up in the handshake may do better next time; one
  // that answers in plain HTTP will not.
  struct {
    const char* name;
    std::function<void(loopback::PeerSocket)> server;
    int connections;
  } cases[] = {
      {"hangs up", [](loopback::PeerSocket) {}, 3},
      {"speaks plain HTTP",
       [](loopback::PeerSocket fd) {
         // After the client's hello, and it hangs up first: no reset loses the answer.
         char hello[4096];
         if (loopback::WaitReadable(fd, 5000)) loopback::ReceiveSome(fd, hello, sizeof hello);
         loopback::SendAll(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
         loopback::ShutdownSend(fd);
         loopback::ReadToEnd(fd, 5000);
       },
       1},
  };
  for (const auto& c : cases) {
    ScriptedServer server([&](loopback::PeerSocket fd, int) { c.server(fd); });
    const std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/one";
    const ProcessResult r = Fetch({"--verbose", "--cacert", *s_certificates / "ca.pem", "--retry-mode", "1",
                                   "--max-retries", "2", "--retry-delay", "10", url, Out("one")});
    EXPECT_EQ(r.status, 3) << c.name << ": " << r.err;
    EXPECT_EQ(server.connections(), c.connections) << c.name << ": " << r.err;
    EXPECT_FALSE(Exists(Out("one"))) << c.name;
  }
}

TEST_F(TolvaneFetchTls, AStreamCutInTheBodyIsABrokenTransfer) {
  const auto nginx = Serve(s_certificates->Serving("server"));
  const std::size_t kMiB = 1 << 20;
  {
    // No close notice, the body short of its length: a break, and the next
    // connection goes on from there.
    CuttingRelay relay(PortOf(nginx->Url("")), kMiB);
    const ProcessResult r = Fetch({"--verbose", "--cacert", *s_certificates / "ca.pem", relay.Url("/big.bin"), Out("big.bin")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(Out("big.bin")) == Source("big.bin"));
    EXPECT_GE(relay.connections(), 4) << r.err;
  }
  {
    // From the start each time, it never gets further: given up.
    CuttingRelay relay(PortOf(nginx->Url("")), kMiB);
    const ProcessResult r =
        Fetch({"--quiet", "--no-resume", "--cacert", *s_certificates / "ca.pem", relay.Url("/big.bin"), Out("again.bin")});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_FALSE(Exists(Out("again.bin")));
  }
}
