#include "verify/digest.h"

#include <sodium.h>

#include <vector>

#include "platform/file.h"

namespace verify {

namespace {

constexpr std::size_t kBlock = 64 * 1024;

// Feeds every block of the file to update; false when it cannot be read.
template <typename Update>
bool ForEachBlock(const std::string& path, std::uint64_t& size, Update update) {
  const platform::FileHandle h = platform::OpenFileForReading(path);
  if (h == platform::kNoFile) return false;
  std::vector<std::uint8_t> block(kBlock);
  std::uint64_t pos = 0;
  bool ok = platform::IsDiskFile(h);
  while (ok) {
    const long n = platform::ReadFileAt(h, pos, block.data(), block.size());
    if (n < 0) ok = false;
    if (n <= 0) break;
    update(block.data(), static_cast<std::size_t>(n));
    pos += static_cast<std::uint64_t>(n);
  }
  platform::CloseFile(h);
  size = pos;
  return ok;
}

}  // namespace

bool SodiumReady() {
  // sodium_init is safe to call again and from several threads; 1 means
  // "already done".
  static const bool ready = sodium_init() >= 0;
  return ready;
}

bool Sha256OfFile(const std::string& path, Sha256& digest, std::uint64_t& size) {
  if (!SodiumReady()) return false;
  crypto_hash_sha256_state state;
  crypto_hash_sha256_init(&state);
  if (!ForEachBlock(path, size, [&](const std::uint8_t* p, std::size_t n) { crypto_hash_sha256_update(&state, p, n); }))
    return false;
  crypto_hash_sha256_final(&state, digest.data());
  return true;
}

bool Blake2b512OfFile(const std::string& path, Blake2b512& digest) {
  if (!SodiumReady()) return false;
  crypto_generichash_state state;
  if (crypto_generichash_init(&state, nullptr, 0, digest.size()) != 0) return false;
  std::uint64_t size = 0;
  if (!ForEachBlock(path, size, [&](const std::uint8_t* p, std::size_t n) { crypto_generichash_update(&state, p, n); }))
    return false;
  return crypto_generichash_final(&state, digest.data(), digest.size()) == 0;
}

std::string Hex(const std::uint8_t* data, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool ParseHex(std::string_view text, std::uint8_t* out, std::size_t n) {
  if (text.size() != 2 * n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return true;
}

bool SameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
  return sodium_memcmp(a, b, size) == 0;
}

}  // namespace verify
