// The signed manifest's values: decimal sizes and times, hex digests, and a
// whole manifest file through the INI reader and its checks, held against
// plain readings of the same rules.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "verify/manifest.h"

namespace {

bool PlainDecimal(std::string_view s, std::uint64_t max, std::uint64_t& v) {
  if (s.empty()) return false;
  // Long division on the digits as text: no machine number can overflow.
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  std::string_view digits = s;
  while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
  const std::string maxText = std::to_string(max);
  if (digits.size() != maxText.size() ? digits.size() > maxText.size() : std::string(digits) > maxText) return false;
  v = std::stoull(std::string(digits));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  for (std::uint64_t max : {std::uint64_t{4294967295u}, std::uint64_t{9223372036854775807u}, UINT64_MAX}) {
    std::uint64_t got = 0, want = 0;
    const bool ok = verify::ParseDecimal(text, max, got);
    FUZZ_CHECK(ok == PlainDecimal(text, max, want));
    FUZZ_CHECK(!ok || got == want);
  }
  std::uint8_t digest[32];
  if (verify::ParseHex(text, digest, sizeof digest)) FUZZ_CHECK(verify::Hex(digest, sizeof digest) == platform::ToLower(text));

  // The text as a manifest on disk, in a directory of its own that goes at the end.
  static const std::string path = [] {
    static const std::string dir = platform::MakeTempDirectory("signed_manifest_fuzz");
    FUZZ_CHECK(!dir.empty());
    std::atexit([] {
      platform::DeleteOneFile(dir + "update.ini");
      platform::RemoveEmptyDirectory(dir);
    });
    return dir + "update.ini";
  }();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  FUZZ_CHECK(std::fwrite(text.data(), 1, text.size(), f) == text.size());
  std::fclose(f);
  verify::SignedManifest m;
  std::string why;
  if (verify::ReadSignedManifest(path, 1700000000, m, why)) {
    const std::string game = platform::GetPrivateProfileString("update", "GameSha256", "", 100, path);
    FUZZ_CHECK(verify::Hex(m.game.sha256) == platform::ToLower(game));
    FUZZ_CHECK(std::to_string(m.update.nSize) ==
               std::to_string(std::stoull(platform::GetPrivateProfileString("update", "updateSize", "", 100, path))));
    FUZZ_CHECK(!m.tExpires || *m.tExpires >= 1700000000);
  } else {
    FUZZ_CHECK(!why.empty());
  }
  return 0;
}
