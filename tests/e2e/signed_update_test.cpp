// The launcher built with update keys (the build's test keys, see
// TOLVANE_TEST_KEYS) against manifests that minisign signs at test time,
// and tolvane-verify against the same service: it must reach the
// launcher's verdict.
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <regex>

#include "update_scenario.h"

using namespace update_e2e;

namespace {

const std::string kKeys = TOLVANE_TEST_KEYS;

// A key pair that the launcher does not trust.
std::string StrangerKey(const std::string& dir) {
  const std::string secret = dir + "/stranger.key";
  const ProcessResult p = RunProcess({"minisign", "-G", "-W", "-p", dir + "/stranger.pub", "-s", secret});
  EXPECT_EQ(p.status, 0) << p.err;
  return secret;
}

// Line (0..3) of a signature with one of its bytes changed.
std::string Flip(const std::string& text, int line, std::size_t pos) {
  std::size_t start = 0;
  for (int i = 0; i < line; ++i) start = text.find('\n', start) + 1;
  std::string out = text;
  out[start + pos] = out[start + pos] == 'A' ? 'B' : 'A';
  return out;
}

// Line (0..3) of a signature replaced by what change makes of it.
std::string EditLine(const std::string& text, int line, const std::function<std::string(std::string)>& change) {
  std::size_t start = 0;
  for (int i = 0; i < line; ++i) start = text.find('\n', start) + 1;
  const std::size_t end = text.find('\n', start);
  return text.substr(0, start) + change(text.substr(start, end - start)) + text.substr(end);
}

std::string WithCrlf(const std::string& text) { return std::regex_replace(text, std::regex("\n"), "\r\n"); }

std::string Verifier() { return Target::Current().Program("TOLVANE_E2E_VERIFY", TOLVANE_VERIFY_BIN); }

// tolvane-verify as an operator runs it; natively with its temporary files
// in tmp (under Wine TMPDIR is the Wine server's, and Windows has its own).
ProcessResult RunVerify(Scenario& s, const std::vector<std::string>& args, const std::string& tmp = "") {
  ProcessOptions o = s.r.Options();
  if (!s.target.wine() && !tmp.empty()) o.env["TMPDIR"] = tmp;
  return s.target.Run(Verifier(), args, o);
}

const std::vector<std::string> kUntilSignature = {"/api/", "/update.ini?t=T", "/update.ini.minisig?t=T"};
const std::vector<std::string> kUntilUpdate = {"/api/", "/update.ini?t=T", "/update.ini.minisig?t=T", "/update.zip"};
const std::vector<std::string> kAllFive = {"/api/", "/update.ini?t=T", "/update.ini.minisig?t=T", "/update.zip",
                                           "/game.zip"};

// The files a refused update leaves: the manifest and its signature, if any.
void ExpectNothingOfThePackages(Scenario& s, const std::string& what) {
  for (const std::string& p : s.Tree()) {
    EXPECT_TRUE(p == "update.ini" || p == "update.ini.minisig") << what << ": " << p;
  }
}

}  // namespace

TEST(SignedUpdate, OnlyWhatTheOperatorSignedRuns) {
  const std::string release = kKeys + "/release.key", rotated = kKeys + "/rotated.key";
  const std::int64_t now = std::time(nullptr);
  struct Case {
    const char* what;
    // The service of the case, with the default packages given.
    std::function<Service(Scenario&, const std::string& updateZip, const std::string& gameZip)> make;
    bool accepted;
    std::vector<std::string> targets;  // when refused
  };
  auto signedWith = [](const std::string& key, std::function<std::string(std::string)> change = nullptr,
                       std::vector<std::string> args = {}) {
    return [=](Scenario& s, const std::string& u, const std::string& g) {
      Service service{.manifest = SignedManifest(u, g), .updateZip = u, .gameZip = g};
      service.signature = Sign(s.r.root.path(), *service.manifest, key, args);
      if (change) service.signature = change(*service.signature);
      return service;
    };
  };
  auto manifestWith = [&](std::function<std::string(const std::string& u, const std::string& g)> manifest) {
    return [=](Scenario& s, const std::string& u, const std::string& g) {
      Service service{.manifest = manifest(u, g), .updateZip = u, .gameZip = g};
      service.signature = Sign(s.r.root.path(), *service.manifest, release);
      return service;
    };
  };
  // The packages on the server other than the signed ones.
  auto servedOtherwise = [&](bool game, std::function<void(const std::string& zip)> change) {
    return [=](Scenario& s, const std::string& u, const std::string& g) {
      Service service{.manifest = SignedManifest(u, g), .updateZip = u, .gameZip = g};
      service.signature = Sign(s.r.root.path(), *service.manifest, release);
      const std::string served = s.r.root / "served.zip";
      std::filesystem::copy_file(game ? g : u, served);
      change(served);
      (game ? service.gameZip : service.updateZip) = served;
      return service;
    };
  };
  auto appendByte = [](const std::string& zip) { WriteFile(zip, ReadFile(zip) + "x"); };
  const Case cases[] = {
      {"signed with the release key", signedWith(release), true, {}},
      {"signed with the second key", signedWith(rotated), true, {}},
      {"signature with CRLF", signedWith(release, WithCrlf), true, {}},
      {"trusted comment of the operator's", signedWith(release, nullptr, {"-t", "release 2 of the game"}), true, {}},
      {"expires later",
       manifestWith([&](auto& u, auto& g) { return SignedManifest(u, g, "expires=" + std::to_string(now + 3600) + "\n"); }),
       true, {}},
      {"expired",
       manifestWith([&](auto& u, auto& g) { return SignedManifest(u, g, "expires=" + std::to_string(now - 60) + "\n"); }),
       false, kUntilSignature},
      {"no signature (404)",
       [](Scenario&, const std::string& u, const std::string& g) {
         return Service{.manifest = SignedManifest(u, g), .updateZip = u, .gameZip = g};
       },
       false, kUntilSignature},
      {"unknown key",
       [&](Scenario& s, const std::string& u, const std::string& g) {
         Service service{.manifest = SignedManifest(u, g), .updateZip = u, .gameZip = g};
         service.signature = Sign(s.r.root.path(), *service.manifest, StrangerKey(s.r.root.path()));
         return service;
       },
       false, kUntilSignature},
      {"legacy form", signedWith(release, nullptr, {"-l"}), false, kUntilSignature},
      {"a byte of the manifest changed",
       [&](Scenario& s, const std::string& u, const std::string& g) {
         Service service{.manifest = SignedManifest(u, g), .updateZip = u, .gameZip = g};
         service.signature = Sign(s.r.root.path(), *service.manifest, release);
         service.manifest = std::regex_replace(*service.manifest, std::regex("versionNum=2"), "versionNum=3");
         return service;
       },
       false, kUntilSignature},
      {"a byte of the key id", signedWith(release, [](std::string t) { return Flip(t, 1, 5); }), false, kUntilSignature},
      {"a byte of the signature", signedWith(release, [](std::string t) { return Flip(t, 1, 60); }), false,
       kUntilSignature},
      {"a byte of the trusted comment", signedWith(release, [](std::string t) { return Flip(t, 2, 20); }), false,
       kUntilSignature},
      {"a byte of the global signature", signedWith(release, [](std::string t) { return Flip(t, 3, 30); }), false,
       kUntilSignature},
      {"signature line truncated",
       signedWith(release, [](std::string t) { return EditLine(t, 1, [](std::string l) { return l.substr(0, 99); }); }),
       false, kUntilSignature},
      {"global line overlong",
       signedWith(release, [](std::string t) { return EditLine(t, 3, [](std::string l) { return "A" + l; }); }), false,
       kUntilSignature},
      {"signed, without hashes", manifestWith([](auto& u, auto& g) { return SignedManifest(u, g, "", false); }), false,
       kUntilSignature},
      {"update package a byte longer than signed", servedOtherwise(false, appendByte), false, kUntilUpdate},
      {"game package a byte longer than signed", servedOtherwise(true, appendByte), false, kAllFive},
      {"game package changed on the server",
       servedOtherwise(true, [](const std::string& zip) {
         std::string bytes = ReadFile(zip);
         bytes[bytes.size() / 2] ^= 1;
         WriteFile(zip, bytes);
       }),
       false, kAllFive},
  };
  for (const Case& c : cases) {
    Scenario s(kVerifying);
    const std::string updateZip = s.Zip("update", UpdatePackage()), gameZip = s.Zip("game", kGame);
    const Service service = c.make(s, updateZip, gameZip);
    s.ServeAsGiven(service);
    s.Run();
    if (c.accepted) {
      s.ExpectHandOff(c.what);
      EXPECT_EQ(ReadFile(s.dataDir + "update.ini.minisig"), *service.signature) << c.what;
      // The signature is asked for with the manifest's own query.
      const std::vector<std::string> raw = s.Targets(true);
      ASSERT_GE(raw.size(), 3u) << c.what;
      EXPECT_EQ(raw[2], "/update.ini.minisig" + raw[1].substr(raw[1].find('?'))) << c.what;
    } else {
      s.ExpectNoUpdate(c.what, c.targets);
      ExpectNothingOfThePackages(s, c.what);
    }

    // The operator's tool on the same service says the same.
    const std::size_t before = s.RequestCount();
    const std::string tmp = s.r.root / "tmp";
    std::filesystem::create_directories(tmp);
    const ProcessResult v = RunVerify(s, {Base() + "/update.ini"}, tmp);
    EXPECT_EQ(v.status, c.accepted ? 0 : 1) << c.what << "\n" << v.out << v.err;
    if (!c.accepted) {
      EXPECT_EQ(v.err.rfind("refused: ", 0), 0u) << c.what << ": " << v.err;
    }
    std::vector<std::string> expected;
    for (std::size_t i = 1; i < (c.accepted ? kAllFive.size() : c.targets.size()); ++i) {
      expected.push_back(std::regex_replace((c.accepted ? kAllFive : c.targets)[i], std::regex("\\?t=T"), ""));
    }
    EXPECT_EQ(s.Targets(false, before), expected) << c.what;
    if (!s.target.wine()) {
      EXPECT_TRUE(ListTree(tmp).empty()) << c.what;  // its downloads are gone
    }
  }
}

TEST(SignedUpdate, NoUpdateWhenTheConfigurationServiceIsDown) {
  // The launcher that verifies keeps the rest of the road as it was.
  Scenario s(kVerifying);
  s.Run();
  EXPECT_EQ(s.r.Opened(), s.r.Site(TOLVANE_OFFICIAL_URL));
  EXPECT_TRUE(s.Tree().empty());
}

TEST(TolvaneVerify, TellsEachStep) {
  Scenario s(kVerifying);
  const std::string updateZip = s.Zip("update", UpdatePackage()), gameZip = s.Zip("game", kGame);
  Service service{.manifest = SignedManifest(updateZip, gameZip), .updateZip = updateZip, .gameZip = gameZip};
  service.signature = Sign(s.r.root.path(), *service.manifest, kKeys + "/release.key", {"-t", "release two"});
  s.ServeAsGiven(service);
  const ProcessResult v = RunVerify(s, {Base() + "/update.ini"});
  ASSERT_EQ(v.status, 0) << v.out << v.err;
  std::smatch id;
  const std::string pub = ReadFile(kKeys + "/release.pub");
  ASSERT_TRUE(std::regex_search(pub, id, std::regex("public key ([0-9A-F]{1,16})\n")));
  const auto done = [](const std::string& bytes) {
    return "  done: HTTP 200, " + bytes + " bytes in T s, 0 retries, 0 broken transfers\n";
  };
  const std::string expected = "manifest: " + Base() + "/update.ini\n" + done(std::to_string(service.manifest->size())) +
                               "signature: " + Base() + "/update.ini.minisig\n" + done(std::to_string(service.signature->size())) +
                               "  key id " + id[1].str() + " (trusted key 1 of 2): good signature\n" +
                               "  trusted comment: release two\n" +
                               "  versionNum 2\n" +
                               "update package: " + Base() + "/update.zip\n" + done(FileSize(updateZip)) +
                               "  " + FileSize(updateZip) + " bytes, SHA-256 " + Sha256Sum(updateZip) + ": as signed\n" +
                               "game package: " + Base() + "/game.zip\n" + done(FileSize(gameZip)) +
                               "  " + FileSize(gameZip) + " bytes, SHA-256 " + Sha256Sum(gameZip) + ": as signed\n" +
                               "accepted: the launcher would unpack both packages and start update.exe\n";
  EXPECT_EQ(std::regex_replace(v.out, std::regex(R"( in [0-9]+\.[0-9]{3} s,)"), " in T s,"), expected) << v.out;
  EXPECT_EQ(v.err, "");
  EXPECT_FALSE(Exists(s.updaterLog));
  EXPECT_TRUE(s.Tree().empty());  // nothing of the player's touched
}

TEST(TolvaneVerify, KeysOperandsAndExitStatus) {
  Scenario s(kVerifying);
  const std::string updateZip = s.Zip("update", UpdatePackage()), gameZip = s.Zip("game", kGame);
  const std::string release = kKeys + "/release.key";
  Service service{.manifest = SignedManifest(updateZip, gameZip), .updateZip = updateZip, .gameZip = gameZip};
  service.signature = Sign(s.r.root.path(), *service.manifest, release);
  s.ServeAsGiven(service);
  const std::string releaseLine = ReadFile(kKeys + "/release.pub").substr(ReadFile(kKeys + "/release.pub").find('\n') + 1, 56);
  // A file signed beside its .minisig, one without, and a signed manifest
  // that announces no update.
  const std::string local = s.r.root / "local.ini", bare = s.r.root / "bare.ini";
  WriteFile(local, "[update]\nversionNum=1\n");
  Sign(s.r.root.path(), ReadFile(local), release);
  std::filesystem::copy_file(s.r.root / "signing/update.ini.minisig", local + ".minisig");
  WriteFile(bare, "x");
  const std::string url = Base() + "/update.ini";
  const Target& t = s.target;
  struct {
    const char* what;
    std::vector<std::string> args;
    int status;
    const char* err;  // the start of stderr
  } cases[] = {
      {"built-in keys", {url}, 0, ""},
      {"the signing key given as a line", {"--key", releaseLine, url}, 0, ""},
      {"the signing key given as a file", {"--key=" + t.Path(kKeys + "/release.pub"), url}, 0, ""},
      {"only another key given", {"--key", t.Path(kKeys + "/rotated.pub"), url}, 1, "refused: signature: signed with key"},
      {"manifest not found", {Base() + "/missing.ini"}, 3, "manifest: "},
      {"a file and its signature", {t.Path(local)}, 0, ""},
      {"a file without signature", {t.Path(bare)}, 1, "refused: signature: cannot open"},
      {"no such file", {t.Path(s.r.root / "none.ini")}, 3, "tolvane-verify: "},
      {"a key that is none", {"--key", "RWQnotakey", url}, 64, "tolvane-verify: "},
      {"no operand", {}, 64, "tolvane-verify: "},
      {"two operands", {url, url}, 64, "tolvane-verify: "},
      {"an unknown option", {"--keys", releaseLine, url}, 64, "tolvane-verify: "},
  };
  for (const auto& c : cases) {
    const ProcessResult v = RunVerify(s, c.args);
    EXPECT_EQ(v.status, c.status) << c.what << "\n" << v.out << v.err;
    EXPECT_EQ(v.err.substr(0, std::string(c.err).size()), c.err) << c.what << ": " << v.err;
  }
}

TEST(TolvaneVerify, PackageThatCannotBeDownloaded) {
  Scenario s(kVerifying);
  const std::string updateZip = s.Zip("update", UpdatePackage()), gameZip = s.Zip("game", kGame);
  Service noGame{.manifest = SignedManifest(updateZip, gameZip), .updateZip = updateZip};
  noGame.signature = Sign(s.r.root.path(), *noGame.manifest, kKeys + "/release.key");
  s.ServeAsGiven(noGame);
  const ProcessResult v = RunVerify(s, {Base() + "/update.ini"});
  EXPECT_EQ(v.status, 3) << v.out << v.err;
  EXPECT_EQ(v.err, "game package: " + Base() + "/game.zip: cannot be downloaded (not found)\n");
}
