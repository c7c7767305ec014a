#include "verify/minisign.h"

#include <sodium.h>

#include <cstring>

#include "platform/file.h"
#include "platform/text.h"
#include "verify/digest.h"

namespace verify {

namespace {

constexpr std::string_view kUntrusted = "untrusted comment: ";
constexpr std::string_view kTrusted = "trusted comment: ";
constexpr std::size_t kKeyBytes = 2 + 8 + 32;
constexpr std::size_t kSignatureBytes = 2 + 8 + 64;

bool IsBase64Digit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Exactly n bytes from canonical base64 with padding: the length that n
// bytes take, no byte outside the alphabet, unused bits zero (libsodium
// refuses them), so that each file has one spelling only. The alphabet is
// checked here: libsodium 1.0.18 takes some bytes above 0x7F for digits.
bool DecodeBase64(std::string_view text, std::uint8_t* out, std::size_t n) {
  if (text.size() != (n + 2) / 3 * 4 || !SodiumReady()) return false;
  const std::size_t padding = (3 - n % 3) % 3;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i < text.size() - padding ? !IsBase64Digit(text[i]) : text[i] != '=') return false;
  }
  std::size_t got = 0;
  const char* end = nullptr;
  if (sodium_base642bin(out, n, text.data(), text.size(), nullptr, &got, &end, sodium_base64_VARIANT_ORIGINAL) != 0)
    return false;
  return got == n && end == text.data() + text.size();
}

// text as exactly count lines, each ending with LF or CRLF, the last one
// also at the end of the text. A CR anywhere else is a deviation.
bool SplitLines(std::string_view text, std::size_t count, std::vector<std::string_view>& lines, std::string& why) {
  lines.clear();
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\r') != std::string_view::npos) {
      why = "a line holds a carriage return that ends no line";
      return false;
    }
    if (lines.size() == count) {
      why = platform::Format("more than %zu lines", count);
      return false;
    }
    lines.push_back(line);
  }
  if (lines.size() != count) {
    why = platform::Format("%zu lines instead of %zu", lines.size(), count);
    return false;
  }
  return true;
}

bool Prefixed(std::string_view line, std::string_view prefix, std::string_view& rest) {
  if (line.substr(0, prefix.size()) != prefix) return false;
  rest = line.substr(prefix.size());
  return true;
}

}  // namespace

std::string KeyIdText(const KeyId& id) {
  std::string out;
  for (std::size_t i = id.size(); i-- > 0;) out += platform::Format("%02X", id[i]);
  // minisign writes the id as a number, without leading zeros.
  const std::size_t first = out.find_first_not_of('0');
  return first == std::string::npos ? "0" : out.substr(first);
}

bool ParseKeyLine(std::string_view line, PublicKey& key, std::string& why) {
  std::uint8_t raw[kKeyBytes];
  if (!DecodeBase64(line, raw, sizeof raw)) {
    why = "a public key is 56 characters of base64 (the second line of a .pub file)";
    return false;
  }
  if (raw[0] != 'E' || raw[1] != 'd') {
    why = "not an Ed25519 public key of minisign";
    return false;
  }
  std::memcpy(key.keyId.data(), raw + 2, key.keyId.size());
  std::memcpy(key.key.data(), raw + 10, key.key.size());
  return true;
}

namespace {

// The lines of a file of minisign's, which begins with an untrusted comment.
bool CommentedLines(std::string_view text, const char* what, std::size_t limit, std::size_t count,
                    std::vector<std::string_view>& lines, std::string& why) {
  if (text.size() > limit) {
    why = platform::Format("a %s file holds at most %zu bytes", what, limit);
    return false;
  }
  std::string_view rest;
  if (!SplitLines(text, count, lines, why)) return false;
  if (!Prefixed(lines[0], kUntrusted, rest)) {
    why = "the first line does not begin with \"untrusted comment: \"";
    return false;
  }
  return true;
}

}  // namespace

bool ParseKeyFile(std::string_view text, PublicKey& key, std::string& why) {
  std::vector<std::string_view> lines;
  return CommentedLines(text, "public key", kMaxKeyFile, 2, lines, why) && ParseKeyLine(lines[1], key, why);
}

bool ParseSignature(std::string_view text, Signature& sig, std::string& why) {
  std::vector<std::string_view> lines;
  if (!CommentedLines(text, "signature", kMaxSignatureFile, 4, lines, why)) return false;
  std::string_view rest;
  std::uint8_t raw[kSignatureBytes];
  if (!DecodeBase64(lines[1], raw, sizeof raw)) {
    why = "the second line is not 100 characters of base64";
    return false;
  }
  if (raw[0] == 'E' && raw[1] == 'd') {
    why = "a legacy signature (Ed, over the file itself): sign again without -l";
    return false;
  }
  if (raw[0] != 'E' || raw[1] != 'D') {
    why = "not a minisign signature of a hashed file (ED)";
    return false;
  }
  std::memcpy(sig.keyId.data(), raw + 2, sig.keyId.size());
  std::memcpy(sig.signature.data(), raw + 10, sig.signature.size());
  if (!Prefixed(lines[2], kTrusted, rest)) {
    why = "the third line does not begin with \"trusted comment: \"";
    return false;
  }
  sig.strTrustedComment = std::string(rest);
  if (!DecodeBase64(lines[3], sig.globalSignature.data(), sig.globalSignature.size())) {
    why = "the fourth line is not 88 characters of base64";
    return false;
  }
  return true;
}

bool VerifyFile(const std::string& path, const Signature& sig, const std::vector<PublicKey>& keys,
                std::size_t& keyIndex, std::string& why) {
  if (!SodiumReady()) {
    why = "libsodium cannot be set up";
    return false;
  }
  std::size_t i = 0;
  while (i < keys.size() && keys[i].keyId != sig.keyId) ++i;
  if (i == keys.size()) {
    why = "signed with key " + KeyIdText(sig.keyId) + ", which is none of the trusted keys";
    return false;
  }
  const PublicKey& key = keys[i];
  Blake2b512 digest;
  if (!Blake2b512OfFile(path, digest)) {
    why = "cannot read " + path;
    return false;
  }
  if (crypto_sign_verify_detached(sig.signature.data(), digest.data(), digest.size(), key.key.data()) != 0) {
    why = "the signature does not match the file";
    return false;
  }
  std::string signedPart(reinterpret_cast<const char*>(sig.signature.data()), sig.signature.size());
  signedPart += sig.strTrustedComment;
  if (crypto_sign_verify_detached(sig.globalSignature.data(), reinterpret_cast<const unsigned char*>(signedPart.data()),
                                  signedPart.size(), key.key.data()) != 0) {
    why = "the trusted comment's signature does not match";
    return false;
  }
  keyIndex = i;
  return true;
}

bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& text, std::string& why) {
  const platform::FileHandle h = platform::OpenFileForReading(path);
  if (h == platform::kNoFile) {
    why = "cannot open " + path;
    return false;
  }
  text.assign(limit + 1, '\0');
  const long n = platform::IsDiskFile(h) ? platform::ReadFileAt(h, 0, text.data(), text.size()) : -1;
  platform::CloseFile(h);
  if (n < 0) {
    why = "cannot read " + path;
    return false;
  }
  if (static_cast<std::size_t>(n) > limit) {
    why = platform::Format("%s holds more than %zu bytes", path.c_str(), limit);
    return false;
  }
  text.resize(static_cast<std::size_t>(n));
  return true;
}

}  // namespace verify
