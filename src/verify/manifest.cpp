#include "verify/manifest.h"

#include <limits>

#include "platform/profile.h"
#include "platform/text.h"

namespace verify {

namespace {

// The longest value that the checks below accept (a digest), and a reading
// buffer well beyond it: a longer value is refused whole, however the INI
// reader cuts it to its buffer, never read as a shorter one.
constexpr std::size_t kLongestValue = 64;
constexpr std::size_t kValueBuffer = 4 * kLongestValue;

// The value of key in [update], or nothing when the key is missing. The
// INI reader has no "missing" answer, only the default; two readings with
// different defaults tell a missing key from any value it can hold. A
// value too long to be valid comes back empty, which no check accepts.
std::optional<std::string> ReadValue(const std::string& path, const char* key) {
  const std::string a = platform::GetPrivateProfileString("update", key, "0", kValueBuffer, path);
  const std::string b = platform::GetPrivateProfileString("update", key, "1", kValueBuffer, path);
  if (a != b) return std::nullopt;
  if (a.size() > kLongestValue) return std::string();
  return a;
}

bool ReadPackage(const std::string& path, const char* shaKey, const char* sizeKey, SignedPackage& p,
                 std::string& why) {
  const std::optional<std::string> sha = ReadValue(path, shaKey);
  if (!sha) {
    why = platform::Format("the manifest has no %s", shaKey);
    return false;
  }
  if (!ParseHex(*sha, p.sha256.data(), p.sha256.size())) {
    why = platform::Format("%s is not 64 hex digits", shaKey);
    return false;
  }
  const std::optional<std::string> size = ReadValue(path, sizeKey);
  if (!size) {
    why = platform::Format("the manifest has no %s", sizeKey);
    return false;
  }
  // The download client counts in 32 bits.
  if (!ParseDecimal(*size, std::numeric_limits<std::uint32_t>::max(), p.nSize)) {
    why = platform::Format("%s is not a size in bytes (decimal digits, at most 4294967295)", sizeKey);
    return false;
  }
  return true;
}

}  // namespace

bool ParseDecimal(std::string_view text, std::uint64_t max, std::uint64_t& value) {
  if (text.empty()) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

bool ReadSignedManifest(const std::string& path, std::int64_t now, SignedManifest& manifest, std::string& why) {
  if (const std::optional<std::string> expires = ReadValue(path, "expires")) {
    std::uint64_t t = 0;
    if (!ParseDecimal(*expires, std::numeric_limits<std::int64_t>::max(), t)) {
      why = "expires is not a time (decimal seconds since 1970)";
      return false;
    }
    manifest.tExpires = static_cast<std::int64_t>(t);
    if (now > *manifest.tExpires) {
      why = platform::Format("the manifest expired at %lld (now %lld)", static_cast<long long>(t),
                             static_cast<long long>(now));
      return false;
    }
  }
  return ReadPackage(path, "updateSha256", "updateSize", manifest.update, why) &&
         ReadPackage(path, "GameSha256", "GameSize", manifest.game, why);
}

bool CheckPackageFile(const std::string& path, const SignedPackage& expected, std::uint64_t& size, Sha256& digest,
                      std::string& why) {
  if (!Sha256OfFile(path, digest, size)) {
    why = "cannot read " + path;
    return false;
  }
  if (size != expected.nSize) {
    why = platform::Format("%llu bytes instead of the signed %llu", static_cast<unsigned long long>(size),
                           static_cast<unsigned long long>(expected.nSize));
    return false;
  }
  if (!SameBytes(digest.data(), expected.sha256.data(), digest.size())) {
    why = "SHA-256 " + Hex(digest) + " instead of the signed " + Hex(expected.sha256);
    return false;
  }
  return true;
}

}  // namespace verify
