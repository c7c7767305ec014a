// Schannel's side of what no server is needed for: reading bundles, and how
// a handshake that goes wrong is told apart (cut, worth a retry; refused,
// not). The handshakes with real servers are in tests/e2e/fetch_tls_test.cpp.
#include "platform/tls.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "support/support.h"

using platform::TlsConnect;
using platform::TlsIsCertificateBundle;
using platform::TlsOutcome;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// What the server would send, piece by piece, then end (0) or a failure (-1).
class ScriptedTransport final : public platform::TlsTransport {
 public:
  ScriptedTransport(std::deque<std::string> pieces, std::int32_t end, bool sendWorks = true)
      : m_pieces(std::move(pieces)), m_end(end), m_sendWorks(sendWorks) {}
  bool Send(const char*, std::int32_t n) override {
    m_sent += n;
    return m_sendWorks;
  }
  std::int32_t Receive(char* buffer, std::int32_t capacity) override {
    if (m_pieces.empty()) return m_end;
    std::string& next = m_pieces.front();
    const auto n = static_cast<std::int32_t>(std::min<std::size_t>(next.size(), static_cast<std::size_t>(capacity)));
    next.copy(buffer, static_cast<std::size_t>(n));
    next.erase(0, static_cast<std::size_t>(n));
    if (next.empty()) m_pieces.pop_front();
    return n;
  }
  std::int32_t sent() const { return m_sent; }

 private:
  std::deque<std::string> m_pieces;
  std::int32_t m_end;
  bool m_sendWorks;
  std::int32_t m_sent = 0;
};

std::deque<std::string> OneByteEach(const std::string& s) {
  std::deque<std::string> pieces;
  for (char c : s) pieces.emplace_back(1, c);
  return pieces;
}

}  // namespace

TEST(TlsWindows, BundlesHoldACertificateSchannelTakes) {
  const std::string certificate = ReadFile(TOLVANE_TLS_TEST_CERT);
  const std::string key = ReadFile(TOLVANE_TLS_TEST_KEY);
  ASSERT_NE(certificate.find("-----BEGIN CERTIFICATE-----"), std::string::npos);
  // One character of the base64 made invalid, and the block as valid base64
  // of bytes that are no certificate.
  std::string badText = certificate;
  badText[certificate.find('\n') + 10] = '!';
  const std::string notDer = "-----BEGIN CERTIFICATE-----\nTm8gY2VydGlmaWNhdGUgYXQgYWxs\n-----END CERTIFICATE-----\n";
  const std::string unended = certificate.substr(0, certificate.find("-----END"));
  struct {
    const char* name;
    std::string text;
    bool bundle;
  } cases[] = {
      {"one certificate", certificate, true},
      {"after a key and some words", key + "issued for the tests\n" + certificate, true},
      {"a damaged one first", badText + notDer + certificate, true},
      {"with CRLF line ends", [&] {
         std::string crlf;
         for (char c : certificate) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
         return crlf;
       }(), true},
      {"a key only", key, false},
      {"damaged base64", badText, false},
      {"no certificate inside", notDer, false},
      {"no end line", unended, false},
      {"empty", "", false},
  };
  for (const auto& c : cases) {
    TempDir t;
    WriteFile(t / "bundle.pem", c.text);
    EXPECT_EQ(TlsIsCertificateBundle(t / "bundle.pem"), c.bundle) << c.name;
  }
  TempDir t;
  EXPECT_FALSE(TlsIsCertificateBundle(t / "missing.pem"));
  EXPECT_FALSE(TlsIsCertificateBundle(t.path()));
}

TEST(TlsWindows, AHandshakeCutOffIsWorthARetryAFaultIsNot) {
  // A fatal handshake_failure alert, as a TLS 1.2 server sends it.
  const std::string alert("\x15\x03\x03\x00\x02\x02\x28", 7);
  struct {
    const char* name;
    std::deque<std::string> pieces;
    std::int32_t end;
    bool sendWorks;
    TlsOutcome outcome;
  } cases[] = {
      {"the server hangs up", {}, 0, true, TlsOutcome::kCut},
      {"the transport fails", {}, -1, true, TlsOutcome::kCut},
      {"the hello cannot be sent", {}, 0, false, TlsOutcome::kCut},
      {"half a record, then the end", {alert.substr(0, 3)}, 0, true, TlsOutcome::kCut},
      {"an alert", {alert}, 0, true, TlsOutcome::kRefused},
      // Kept across reads until the record is whole.
      {"an alert a byte at a time", OneByteEach(alert), 0, true, TlsOutcome::kRefused},
      {"plain HTTP", {"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"}, 0, true, TlsOutcome::kRefused},
  };
  for (auto& c : cases) {
    ScriptedTransport transport(c.pieces, c.end, c.sendWorks);
    TlsOutcome outcome = TlsOutcome::kOk;
    std::string why;
    const auto connection = TlsConnect(transport, "localhost", "", outcome, why);
    EXPECT_EQ(connection, nullptr) << c.name;
    EXPECT_EQ(outcome, c.outcome) << c.name << ": " << why;
    EXPECT_FALSE(why.empty()) << c.name;
    EXPECT_GT(transport.sent(), 0) << c.name << ": no client hello";
  }
}
