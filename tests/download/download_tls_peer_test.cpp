// DownloadFile over TLS against nginx and a scripted TLS server, with
// certificates from an authority made at test time: what it accepts, what
// it refuses (never retried), and that no redirect takes it off TLS.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "download/download.h"
#include "loopback.h"
#include "support/peers.h"
#include "support/support.h"

using testing_support::HttpPeer;
using testing_support::NginxPeer;
using testing_support::NginxTls;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::TestAuthority;
using testing_support::WriteFile;

namespace {

struct Download {
  CHttpDownload session;
  explicit Download(const std::string& caFile = "") {
    session.m_nConnectTimeout = session.m_nSendTimeout = session.m_nReceiveTimeout = 5000;
    session.m_strMutexPrefix = "tolvane-tls-" + std::to_string(getpid());
    session.m_strCaFile = caFile;
    // A refusal that counted as transient would show as retries.
    session.m_nRetryMode = 1;
    session.m_nMaxRetries = 2;
  }
};

// One authority, its certificates and a directory of files to serve.
struct Fixture {
  TestAuthority authority;
  TempDir www;
  Fixture() {
    authority.Issue("good", "DNS:localhost,IP:127.0.0.1");
    WriteFile(www / "one", "x");
    WriteFile(www / "block", RandomBytes(10241, 1));
    WriteFile(www / "big.bin", RandomBytes(3 * 1024 * 1024 + 17, 2));
  }
  NginxTls Tls(const std::string& name) const {
    NginxTls tls;
    tls.certificate = authority.Certificate(name);
    tls.key = authority.Key(name);
    return tls;
  }
};

}  // namespace

TEST(DownloadOverTls, FromNginxByteForByte) {
  Fixture f;
  NginxPeer nginx(f.www.path(), f.Tls("good"));
  TempDir out;
  for (const std::string name : {"one", "block", "big.bin"}) {
    Download d(f.authority.ca());
    ASSERT_EQ(d.session.DownloadFile(nginx.Url("/" + name).c_str(), (out / name).c_str()), HD_OK)
        << name << ": " << d.session.m_strSecureError;
    EXPECT_TRUE(ReadFile(out / name) == ReadFile(f.www / name)) << name;
    EXPECT_EQ(d.session.m_pSecure, nullptr) << name;  // closed with the connection
  }
  // By name too: the certificate names localhost as well.
  Download d(f.authority.ca());
  const std::string byName = "https://localhost:" + std::to_string(nginx.port()) + "/one";
  EXPECT_EQ(d.session.DownloadFile(byName.c_str(), (out / "named").c_str()), HD_OK) << d.session.m_strSecureError;
}

TEST(DownloadOverTls, CertificatesThatAreRefused) {
  Fixture f;
  f.authority.Issue("other-name", "DNS:other.example");
  f.authority.Issue("other-address", "IP:127.0.0.2");
  f.authority.Issue("expired", "DNS:localhost,IP:127.0.0.1", "20250101000000Z", "20250201000000Z");
  f.authority.Issue("not-yet-valid", "DNS:localhost,IP:127.0.0.1", "20990101000000Z", "20991231000000Z");
  f.authority.SelfSigned("self-signed", "DNS:localhost,IP:127.0.0.1");
  TempDir out;
  for (const std::string name : {"other-name", "other-address", "expired", "not-yet-valid", "self-signed"}) {
    NginxPeer nginx(f.www.path(), f.Tls(name));
    Download d(f.authority.ca());
    EXPECT_EQ(d.session.DownloadFile(nginx.Url("/one").c_str(), (out / name).c_str()), HD_FAILED) << name;
    EXPECT_EQ(d.session.m_nRetryCount, 0u) << name;
    EXPECT_NE(d.session.m_strSecureError.find("certificate"), std::string::npos) << name << ": " << d.session.m_strSecureError;
    EXPECT_EQ(nginx.AccessLog(), "") << name;  // no request went out
  }
}

TEST(DownloadOverTls, TheSystemStoreAndSslCertFile) {
  Fixture f;
  NginxPeer nginx(f.www.path(), f.Tls("good"));
  TempDir out;
  ScopedEnv env;
  env.Set("SSL_CERT_DIR", out / "no-such-dir");
  env.Set("SSL_CERT_FILE", out / "no-such-file");
  {
    // The authority is in no store the system knows.
    Download d;
    EXPECT_EQ(d.session.DownloadFile(nginx.Url("/one").c_str(), (out / "a").c_str()), HD_FAILED);
    EXPECT_EQ(d.session.m_nRetryCount, 0u);
  }
  env.Set("SSL_CERT_FILE", f.authority.ca());
  {
    Download d;
    EXPECT_EQ(d.session.DownloadFile(nginx.Url("/one").c_str(), (out / "b").c_str()), HD_OK) << d.session.m_strSecureError;
  }
  {
    // A bundle of the caller's wins over the environment's.
    f.authority.SelfSigned("stranger", "DNS:localhost");
    Download d(f.authority.Certificate("stranger"));
    EXPECT_EQ(d.session.DownloadFile(nginx.Url("/one").c_str(), (out / "c").c_str()), HD_FAILED);
  }
}

TEST(DownloadOverTls, ProtocolsOlderThanTls12AreRefused) {
  Fixture f;
  NginxTls tls = f.Tls("good");
  tls.protocols = "TLSv1 TLSv1.1";
  tls.ciphers = "DEFAULT:@SECLEVEL=0";
  NginxPeer nginx(f.www.path(), tls);
  // The server does speak TLS 1.0 to a client that offers it.
  const testing_support::ProcessResult probe = testing_support::RunProcess(
      {"sh", "-c", "openssl s_client -tls1 -cipher 'DEFAULT:@SECLEVEL=0' -connect 127.0.0.1:" +
                       std::to_string(nginx.port()) + " </dev/null 2>&1"});
  ASSERT_NE(probe.out.find("Protocol  : TLSv1\n"), std::string::npos) << probe.out;
  TempDir out;
  Download d(f.authority.ca());
  EXPECT_EQ(d.session.DownloadFile(nginx.Url("/one").c_str(), (out / "one").c_str()), HD_FAILED);
  EXPECT_EQ(d.session.m_nRetryCount, 0u);
  EXPECT_FALSE(d.session.m_strSecureError.empty());
}

TEST(DownloadOverTls, RedirectsOntoTlsButNeverOffIt) {
  Fixture f;
  loopback::Responder plain({"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nplain"});
  NginxTls tls = f.Tls("good");
  tls.extra = "    location = /down { return 302 " + plain.Url("/one") + "; }\n";
  NginxPeer nginx(f.www.path(), tls);
  loopback::Responder up({"HTTP/1.1 302 Found\r\nLocation: " + nginx.Url("/big.bin") + "\r\nContent-Length: 0\r\n\r\n"});
  TempDir out;
  {
    Download d(f.authority.ca());
    EXPECT_EQ(d.session.DownloadFile(up.Url("/big.bin").c_str(), (out / "big.bin").c_str()), HD_OK);
    EXPECT_TRUE(ReadFile(out / "big.bin") == ReadFile(f.www / "big.bin"));
    EXPECT_TRUE(d.session.m_bSecure);
  }
  {
    Download d(f.authority.ca());
    EXPECT_EQ(d.session.DownloadFile(nginx.Url("/down").c_str(), (out / "down").c_str()), HD_FAILED);
    EXPECT_EQ(plain.connections(), 0);
  }
}

TEST(DownloadOverTls, BodyCutBeforeItsLengthIsABrokenTransfer) {
  Fixture f;
  const std::string body = RandomBytes(100000, 3);
  WriteFile(f.www / "body", body);
  // Cut after 40000 bytes without a close notice, every time; whole, the
  // same missing notice does no harm.
  HttpPeer cut(R"({"/cut": {"file": ")" + f.www / "body" + R"(", "cut": 40000}, "/whole": {"file": ")" + f.www / "body" + R"("}})",
               f.authority.Certificate("good"), f.authority.Key("good"));
  TempDir out;
  {
    Download d(f.authority.ca());
    EXPECT_EQ(d.session.DownloadFile(cut.Url("/whole").c_str(), (out / "whole").c_str()), HD_OK) << d.session.m_strSecureError;
    EXPECT_TRUE(ReadFile(out / "whole") == body);
  }
  Download d(f.authority.ca());
  EXPECT_EQ(d.session.DownloadFile(cut.Url("/cut").c_str(), (out / "cut").c_str()), HD_FAILED);
  EXPECT_EQ(d.session.m_nBrokenCount, 1 + HD_MAX_BROKEN_ATTEMPTS);
}

TEST(DownloadOverTls, AHandshakeThatNeverComesKeepsTheReceiveLimit) {
  // Accepts, reads the client's hello and answers nothing.
  loopback::ScriptedServer silent([](loopback::PeerSocket fd, int) { loopback::ReadToEnd(fd, 3000); });
  TempDir out;
  Download d;
  d.session.m_nReceiveTimeout = 400;
  const auto t0 = std::chrono::steady_clock::now();
  const std::string url = "https://127.0.0.1:" + std::to_string(silent.port()) + "/x";
  EXPECT_EQ(d.session.DownloadFile(url.c_str(), (out / "x").c_str()), HD_FAILED);
  const auto took = std::chrono::steady_clock::now() - t0;
  // Transient, as a failed connect: retried by the mode, each within the limit.
  EXPECT_EQ(d.session.m_nRetryCount, 2u);
  EXPECT_EQ(silent.connections(), 3);
  EXPECT_LT(took, std::chrono::milliseconds(2900));
}
