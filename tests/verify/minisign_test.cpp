// Signatures that the minisign tool makes, at test time, checked by
// VerifyFile: the good ones pass with any trusted key that made them, and
// a change to any signed byte fails. (Linux only: minisign is a Linux
// program.)
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/support.h"
#include "verify/minisign.h"

using testing_support::ProcessResult;
using testing_support::ReadFile;
using testing_support::RunProcess;
using testing_support::TempDir;
using testing_support::WriteFile;
using namespace verify;

namespace {

struct KeyPair {
  std::string pub, secret;
  PublicKey key;
};

class Minisign : public ::testing::Test {
 protected:
  TempDir dir;
  const KeyPair a = Make("a"), b = Make("b");
  const std::string file = dir / "update.ini";

  KeyPair Make(const std::string& name) {
    KeyPair k{dir / (name + ".pub"), dir / (name + ".key"), {}};
    const ProcessResult p = RunProcess({"minisign", "-G", "-W", "-p", k.pub, "-s", k.secret});
    EXPECT_EQ(p.status, 0) << p.err;
    std::string why;
    EXPECT_TRUE(ParseKeyFile(ReadFile(k.pub), k.key, why)) << why;
    return k;
  }

  // FILE.minisig as minisign writes it.
  std::string Sign(const KeyPair& k, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {"minisign", "-S", "-s", k.secret, "-m", file};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const ProcessResult p = RunProcess(argv);
    EXPECT_EQ(p.status, 0) << p.err;
    return ReadFile(file + ".minisig");
  }

  // The verdict on file with signature text and keys; why on refusal.
  bool Check(const std::string& text, const std::vector<PublicKey>& keys, std::string& why, std::size_t* index = nullptr) {
    Signature sig;
    std::size_t i = 99;
    const bool ok = ParseSignature(text, sig, why) && VerifyFile(file, sig, keys, i, why);
    if (index != nullptr) *index = i;
    return ok;
  }
};

// line (0..3) of the file with its byte at pos changed to another base64
// character, or another byte in a comment.
std::string Flip(const std::string& text, int line, std::size_t pos) {
  std::size_t start = 0;
  for (int i = 0; i < line; ++i) start = text.find('\n', start) + 1;
  std::string out = text;
  char& c = out[start + pos];
  c = c == 'A' ? 'B' : 'A';
  return out;
}

}  // namespace

TEST_F(Minisign, GoodSignaturesAndTheKeyThatMadeThem) {
  WriteFile(file, "[update]\nversionNum=2\n");
  const std::string sig = Sign(a, {"-t", "release 2"});
  std::string why;
  std::size_t index = 0;
  EXPECT_TRUE(Check(sig, {a.key}, why, &index)) << why;
  EXPECT_EQ(index, 0u);
  // A second trusted key, as while keys are rotated: the one named counts.
  EXPECT_TRUE(Check(sig, {b.key, a.key}, why, &index)) << why;
  EXPECT_EQ(index, 1u);
  const std::string sigB = Sign(b);
  EXPECT_TRUE(Check(sigB, {b.key, a.key}, why, &index)) << why;
  EXPECT_EQ(index, 0u);
  // The key id reads as minisign shows it.
  std::smatch m;
  const std::string pub = ReadFile(a.pub);
  ASSERT_TRUE(std::regex_search(pub, m, std::regex("public key ([0-9A-F]{1,16})\n")));
  EXPECT_EQ(KeyIdText(a.key.keyId), m[1].str());
  Signature parsed;
  ASSERT_TRUE(ParseSignature(sig, parsed, why));
  EXPECT_EQ(parsed.strTrustedComment, "release 2");
}

TEST_F(Minisign, EverySignedByteCounts) {
  const std::string manifest = "[update]\r\nversionNum=2\r\nGameUrl=http://h/g\r\n";
  WriteFile(file, manifest);
  const std::string sig = Sign(a);
  std::string crlf;
  for (char c : sig) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  struct {
    const char* what;
    std::string manifest;
    std::string sig;
    const char* refusal;  // nullptr: accepted
  } cases[] = {
      {"as signed", manifest, sig, nullptr},
      {"signature with CRLF", manifest, crlf, nullptr},
      {"untrusted comment changed", manifest, Flip(sig, 0, 25), nullptr},
      {"a byte of the manifest", "[update]\r\nversionNum=3\r\nGameUrl=http://h/g\r\n", sig, "does not match the file"},
      {"a byte more in the manifest", manifest + "\n", sig, "does not match the file"},
      {"the key id", manifest, Flip(sig, 1, 5), "none of the trusted keys"},
      {"the signature's first bytes", manifest, Flip(sig, 1, 14), "does not match the file"},
      {"the signature's last bytes", manifest, Flip(sig, 1, 97), "does not match the file"},
      {"the trusted comment", manifest, Flip(sig, 2, 20), "trusted comment's signature"},
      {"the global signature", manifest, Flip(sig, 3, 40), "trusted comment's signature"},
  };
  std::string why;
  for (const auto& c : cases) {
    WriteFile(file, c.manifest);
    why.clear();
    EXPECT_EQ(Check(c.sig, {a.key}, why), c.refusal == nullptr) << c.what << ": " << why;
    if (c.refusal != nullptr) {
      EXPECT_NE(why.find(c.refusal), std::string::npos) << c.what << ": " << why;
    }
  }
}

TEST_F(Minisign, UnknownKeyAndLegacyForm) {
  WriteFile(file, "[update]\nversionNum=2\n");
  std::string why;
  EXPECT_FALSE(Check(Sign(b), {a.key}, why));
  EXPECT_NE(why.find("none of the trusted keys"), std::string::npos) << why;
  EXPECT_NE(why.find(KeyIdText(b.key.keyId)), std::string::npos) << why;
  EXPECT_FALSE(Check(Sign(a, {"-l"}), {a.key}, why));
  EXPECT_NE(why.find("legacy"), std::string::npos) << why;
  EXPECT_FALSE(Check(Sign(a), {}, why));
}
