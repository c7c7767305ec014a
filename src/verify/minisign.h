// minisign public keys and signatures, as minisign writes them, and the
// check of a file against a signature. Anything that deviates from the
// format is refused: a reader that guesses is one an attacker can steer.
//
// Public key: the base64 (with padding) of "Ed", an 8-byte key id and the
// 32-byte Ed25519 public key; in a .pub file below an "untrusted comment: "
// line. Signature file, four lines:
//   untrusted comment: <anything>
//   base64("ED" | key id | Ed25519 signature of the BLAKE2b-512 of the file)
//   trusted comment: <anything>
//   base64(Ed25519 signature of the signature's 64 bytes and the trusted comment)
// Lines end with LF or CRLF (the last one may end the file instead). The
// legacy form "Ed" (a signature of the file itself) is refused.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace verify {

// Bounds of the files read: minisign's own comments fit well inside.
constexpr std::size_t kMaxKeyFile = 4096;
constexpr std::size_t kMaxSignatureFile = 16384;

using KeyId = std::array<std::uint8_t, 8>;

struct PublicKey {
  KeyId keyId{};
  std::array<std::uint8_t, 32> key{};
};

struct Signature {
  KeyId keyId{};
  std::array<std::uint8_t, 64> signature{};
  std::string strTrustedComment;  // without its prefix
  std::array<std::uint8_t, 64> globalSignature{};
};

// The key id as minisign shows it: 16 upper-case hex digits, the bytes in
// reverse order.
std::string KeyIdText(const KeyId& id);

// The base64 line alone. False, with the reason, when it is not one.
bool ParseKeyLine(std::string_view line, PublicKey& key, std::string& why);
// A .pub file's text.
bool ParseKeyFile(std::string_view text, PublicKey& key, std::string& why);
bool ParseSignature(std::string_view text, Signature& sig, std::string& why);

// The file at path against sig, with the key among keys whose id the
// signature names; that key's index in keys on success.
bool VerifyFile(const std::string& path, const Signature& sig, const std::vector<PublicKey>& keys,
                std::size_t& keyIndex, std::string& why);

// The whole file, when it holds at most limit bytes.
bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& text, std::string& why);

}  // namespace verify
