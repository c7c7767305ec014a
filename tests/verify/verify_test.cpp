// The readers of verify/ on byte-built input: minisign's key and signature
// format, the signed manifest's values, and the digests.
#include <gtest/gtest.h>

#include <string>

#include "support/support.h"
#include "verify/digest.h"
#include "verify/manifest.h"
#include "verify/minisign.h"
#include "verify_fixtures.h"

using testing_support::TempDir;
using testing_support::WriteFile;
using namespace verify;
using namespace verify_fixtures;

TEST(Digest, KnownVectorsAcrossBlocks) {
  TempDir dir;
  struct {
    std::string data;
    const char* sha256;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // many of the reader's blocks, the last one short
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "f", c.data);
    Sha256 digest{};
    std::uint64_t size = 1;
    ASSERT_TRUE(Sha256OfFile(dir / "f", digest, size));
    EXPECT_EQ(Hex(digest), c.sha256);
    EXPECT_EQ(size, c.data.size());
  }
  WriteFile(dir / "abc", "abc");
  Blake2b512 b{};
  ASSERT_TRUE(Blake2b512OfFile(dir / "abc", b));
  EXPECT_EQ(Hex(b),
            "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d1"
            "7d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923");
  Sha256 digest{};
  std::uint64_t size = 0;
  EXPECT_FALSE(Sha256OfFile(dir / "missing", digest, size));
  EXPECT_FALSE(Sha256OfFile(dir.path(), digest, size));  // a directory is no file
}

TEST(Digest, HexTakesExactlyTheDigits) {
  std::uint8_t out[2] = {};
  EXPECT_TRUE(ParseHex("aB0f", out, 2));
  EXPECT_EQ(out[0], 0xab);
  EXPECT_EQ(out[1], 0x0f);
  for (const char* bad : {"aB0", "aB0f0", "aB0g", "aB 0", "+B0f", ""}) EXPECT_FALSE(ParseHex(bad, out, 2)) << bad;
}

TEST(ParseDecimal, DigitsOnlyAndNoOverflow) {
  constexpr std::uint64_t k32 = 4294967295u, k64 = UINT64_MAX;
  struct {
    const char* text;
    std::uint64_t max;
    bool ok;
    std::uint64_t value;
  } cases[] = {
      {"0", k32, true, 0},
      {"007", k32, true, 7},
      {"4294967295", k32, true, k32},
      {"4294967296", k32, false, 0},
      {"42949672950", k32, false, 0},
      {"18446744073709551615", k64, true, k64},
      {"18446744073709551616", k64, false, 0},
      {"99999999999999999999999", k64, false, 0},
      {"", k32, false, 0},
      {"-1", k32, false, 0},
      {"+1", k32, false, 0},
      {" 1", k32, false, 0},
      {"1 ", k32, false, 0},
      {"12a", k32, false, 0},
      {"0x10", k32, false, 0},
      {"1.5", k32, false, 0},
  };
  for (const auto& c : cases) {
    std::uint64_t v = 12345;
    EXPECT_EQ(ParseDecimal(c.text, c.max, v), c.ok) << c.text;
    EXPECT_EQ(v, c.ok ? c.value : 12345u) << c.text;
  }
}

TEST(SignedManifest, ValuesAndTheirRefusals) {
  const std::string gameSha(64, 'a'), updateSha = "0123456789ABCDEF" + std::string(48, 'f');
  const std::string head = "[update]\nversionNum=2\nGameUrl=http://h/g\nupdateUrl=http://h/u\n";
  auto manifest = [&](const std::string& extra, const std::string& drop = "") {
    std::string lines;
    for (const std::string& l : {"GameSha256=" + gameSha, "updateSha256=" + updateSha, std::string("GameSize=123"),
                                 std::string("updateSize=4294967295")}) {
      if (drop.empty() || l.rfind(drop + "=", 0) != 0) lines += l + "\n";
    }
    return head + lines + extra;
  };
  constexpr std::int64_t now = 1700000000;
  struct {
    const char* what;
    std::string text;
    const char* refusal;  // nullptr: accepted
  } cases[] = {
      {"all four", manifest(""), nullptr},
      {"expires later", manifest("expires=1700000001\n"), nullptr},
      {"expires now", manifest("expires=1700000000\n"), nullptr},
      {"expired", manifest("expires=1699999999\n"), "expired"},
      {"expired long ago", manifest("expires=0\n"), "expired"},
      {"expires junk", manifest("expires=tomorrow\n"), "expires is not a time"},
      {"expires empty", manifest("expires=\n"), "expires is not a time"},
      {"expires negative", manifest("expires=-1\n"), "expires is not a time"},
      {"expires past 64 bits", manifest("expires=9223372036854775808\n"), "expires is not a time"},
      {"no GameSha256", manifest("", "GameSha256"), "no GameSha256"},
      {"no updateSha256", manifest("", "updateSha256"), "no updateSha256"},
      {"no GameSize", manifest("", "GameSize"), "no GameSize"},
      {"no updateSize", manifest("", "updateSize"), "no updateSize"},
      {"no hashes at all", head, "no updateSha256"},
      {"in another section", "[other]\n" + manifest("").substr(9), "no updateSha256"},
      {"short hash", manifest("", "GameSha256") + "GameSha256=" + gameSha.substr(1) + "\n", "GameSha256 is not"},
      {"long hash", manifest("", "GameSha256") + "GameSha256=" + gameSha + "a\n", "GameSha256 is not"},
      {"hash not hex", manifest("", "GameSha256") + "GameSha256=" + gameSha.substr(1) + "g\n", "GameSha256 is not"},
      {"size over 32 bits", manifest("", "GameSize") + "GameSize=4294967296\n", "GameSize is not"},
      {"size with sign", manifest("", "GameSize") + "GameSize=+123\n", "GameSize is not"},
      {"size with junk", manifest("", "GameSize") + "GameSize=123 bytes\n", "GameSize is not"},
      {"size empty", manifest("", "updateSize") + "updateSize=\n", "updateSize is not"},
      // Longer than the reader's buffer: cut there, they would read as
      // other numbers.
      {"size padded past the buffer", manifest("", "updateSize") + "updateSize=" + std::string(252, '0') + "1234\n",
       "updateSize is not"},
      {"expires padded past the buffer", manifest("expires=" + std::string(400, '0') + "9\n"), "expires is not a time"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteFile(dir / "update.ini", c.text);
    SignedManifest m;
    std::string why;
    const bool ok = ReadSignedManifest(dir / "update.ini", now, m, why);
    EXPECT_EQ(ok, c.refusal == nullptr) << c.what << ": " << why;
    if (c.refusal != nullptr) {
      EXPECT_NE(why.find(c.refusal), std::string::npos) << c.what << ": " << why;
    } else {
      EXPECT_EQ(Hex(m.game.sha256), gameSha) << c.what;
      EXPECT_EQ(Hex(m.update.sha256), "0123456789abcdef" + std::string(48, 'f')) << c.what;
      EXPECT_EQ(m.game.nSize, 123u) << c.what;
      EXPECT_EQ(m.update.nSize, 4294967295u) << c.what;
    }
  }
}

TEST(SignedManifest, PackageAgainstItsSizeAndHash) {
  TempDir dir;
  WriteFile(dir / "signed", "package bytes");
  SignedPackage expected;
  std::uint64_t size = 0;
  std::string why;
  ASSERT_TRUE(Sha256OfFile(dir / "signed", expected.sha256, size));
  expected.nSize = size;
  struct {
    const char* what;
    std::string data;
    const char* refusal;
  } cases[] = {
      {"as signed", "package bytes", nullptr},
      {"one byte longer", "package bytes!", "14 bytes instead of the signed 13"},
      {"one byte shorter", "package byte", "12 bytes instead of the signed 13"},
      {"one byte other", "package bytez", "SHA-256"},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "p", c.data);
    Sha256 digest{};
    why.clear();
    EXPECT_EQ(CheckPackageFile(dir / "p", expected, size, digest, why), c.refusal == nullptr) << c.what;
    if (c.refusal != nullptr) {
      EXPECT_NE(why.find(c.refusal), std::string::npos) << c.what << ": " << why;
    }
    EXPECT_EQ(size, c.data.size()) << c.what;
  }
  Sha256 digest{};
  EXPECT_FALSE(CheckPackageFile(dir / "missing", expected, size, digest, why));
}

TEST(MinisignKey, LineAndFile) {
  PublicKey key;
  std::string why;
  ASSERT_TRUE(ParseKeyLine(KeyLine(), key, why)) << why;
  EXPECT_EQ(std::string(key.keyId.begin(), key.keyId.end()), FixtureKeyId());
  EXPECT_EQ(std::string(key.key.begin(), key.key.end()), std::string(32, 'k'));
  EXPECT_EQ(KeyIdText(key.keyId), "807060504030201");  // as minisign shows it: no leading zero
  const std::string line = KeyLine();
  struct {
    const char* what;
    std::string line;
  } badLines[] = {
      {"another algorithm", KeyLine("ED")},
      {"one character short", line.substr(1)},
      {"one character more", line + "A"},
      {"a blank behind", line + " "},
      {"outside the alphabet", line.substr(0, 20) + "-" + line.substr(21)},
      {"URL-safe alphabet", line.substr(0, 20) + "_" + line.substr(21)},
      {"empty", ""},
  };
  for (const auto& c : badLines) EXPECT_FALSE(ParseKeyLine(c.line, key, why)) << c.what;

  const std::string comment = "untrusted comment: minisign public key 0807060504030201";
  struct {
    const char* what;
    std::string text;
    bool ok;
  } files[] = {
      {"as minisign writes it", comment + "\n" + line + "\n", true},
      {"CRLF", comment + "\r\n" + line + "\r\n", true},
      {"no line end at the end", comment + "\n" + line, true},
      {"the line alone", line + "\n", false},
      {"other first line", "comment: x\n" + line + "\n", false},
      {"a third line", comment + "\n" + line + "\n\n", false},
      {"CR alone ends no line", comment + "\r" + line + "\n", false},
      {"over the bound", "untrusted comment: " + std::string(kMaxKeyFile, 'x') + "\n" + line + "\n", false},
  };
  for (const auto& c : files) EXPECT_EQ(ParseKeyFile(c.text, key, why), c.ok) << c.what << ": " << why;
}

TEST(MinisignSignature, FormatAndItsDeviations) {
  const SignatureLines good;
  Signature sig;
  std::string why;
  ASSERT_TRUE(ParseSignature(good.Text(), sig, why)) << why;
  EXPECT_EQ(std::string(sig.keyId.begin(), sig.keyId.end()), FixtureKeyId());
  EXPECT_EQ(std::string(sig.signature.begin(), sig.signature.end()), std::string(64, 's'));
  EXPECT_EQ(sig.strTrustedComment, "timestamp:1700000000\tfile:update.ini\thashed");
  EXPECT_EQ(std::string(sig.globalSignature.begin(), sig.globalSignature.end()), std::string(64, 'g'));

  auto with = [&](auto change) {
    SignatureLines l;
    change(l);
    return l.Text();
  };
  // The last character before the padding with a bit set that encodes
  // nothing: a second spelling of the same bytes.
  auto spareBit = [](std::string line) {
    const std::size_t i = line.find('=') - 1;
    line[i] = static_cast<char>(line[i] + 1);
    return line;
  };
  struct {
    const char* what;
    std::string text;
    const char* refusal;  // nullptr: accepted
  } cases[] = {
      {"CRLF", good.Text("\r\n"), nullptr},
      {"no line end at the end", good.Text().substr(0, good.Text().size() - 1), nullptr},
      {"empty trusted comment", with([](SignatureLines& l) { l.trusted = "trusted comment: "; }), nullptr},
      {"legacy form", with([](SignatureLines& l) { l.signature = Base64("Ed" + FixtureKeyId() + std::string(64, 's')); }), "legacy"},
      {"unknown algorithm", with([](SignatureLines& l) { l.signature = Base64("EE" + FixtureKeyId() + std::string(64, 's')); }), "ED"},
      {"signature line short", with([](SignatureLines& l) { l.signature.erase(0, 1); }), "second line"},
      {"signature line long", with([](SignatureLines& l) { l.signature += "A"; }), "second line"},
      {"signature truncated", with([](SignatureLines& l) { l.signature.resize(60); }), "second line"},
      {"signature without padding", with([](SignatureLines& l) { l.signature.back() = 'A'; }), "second line"},
      {"signature spare bit", with([&](SignatureLines& l) { l.signature = spareBit(l.signature); }), "second line"},
      {"global line short", with([](SignatureLines& l) { l.global.erase(0, 1); }), "fourth line"},
      {"global line long", with([](SignatureLines& l) { l.global += "=="; }), "fourth line"},
      {"global spare bit", with([&](SignatureLines& l) { l.global = spareBit(l.global); }), "fourth line"},
      {"global one padding", with([](SignatureLines& l) { l.global[l.global.size() - 2] = 'A'; }), "fourth line"},
      {"blank behind base64", with([](SignatureLines& l) { l.global += " "; }), "fourth line"},
      // A byte above 0x7F that libsodium's decoder alone would read as '0'.
      {"byte outside ASCII", with([](SignatureLines& l) { l.global[10] = static_cast<char>(0xB0); }), "fourth line"},
      {"padding inside", with([](SignatureLines& l) { l.signature[40] = '='; }), "second line"},
      {"untrusted prefix", with([](SignatureLines& l) { l.untrusted = "untrusted comment:x"; }), "first line"},
      {"untrusted in capitals", with([](SignatureLines& l) { l.untrusted = "Untrusted comment: x"; }), "first line"},
      {"trusted prefix", with([](SignatureLines& l) { l.trusted = "trusted comment:x"; }), "third line"},
      {"untrusted where trusted", with([](SignatureLines& l) { l.trusted = "untrusted comment: x"; }), "third line"},
      {"CR inside a comment", with([](SignatureLines& l) { l.trusted += "\rx"; }), "carriage return"},
      {"CR CR LF", [] {
         SignatureLines l;
         l.trusted += "\r";
         return l.Text("\r\n");
       }(), "carriage return"},
      {"a fifth line", good.Text() + "\n", "more than 4 lines"},
      {"three lines", SignatureLines().untrusted + "\n" + good.signature + "\n" + good.trusted + "\n", "3 lines"},
      {"lines swapped", with([](SignatureLines& l) { std::swap(l.signature, l.global); }), "second line"},
      {"empty", "", "0 lines"},
      {"over the bound",
       with([](SignatureLines& l) { l.untrusted += std::string(kMaxSignatureFile, 'x'); }), "at most"},
  };
  for (const auto& c : cases) {
    why.clear();
    const bool ok = ParseSignature(c.text, sig, why);
    EXPECT_EQ(ok, c.refusal == nullptr) << c.what << ": " << why;
    if (c.refusal != nullptr) {
      EXPECT_NE(why.find(c.refusal), std::string::npos) << c.what << ": " << why;
    }
  }
}
