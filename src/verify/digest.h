// Digests of files, read in blocks so that memory stays the same for any
// size of file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace verify {

using Sha256 = std::array<std::uint8_t, 32>;
using Blake2b512 = std::array<std::uint8_t, 64>;

// False when the file cannot be opened or read; size is its length in bytes.
bool Sha256OfFile(const std::string& path, Sha256& digest, std::uint64_t& size);
bool Blake2b512OfFile(const std::string& path, Blake2b512& digest);

// Lower-case hex.
std::string Hex(const std::uint8_t* data, std::size_t size);
template <std::size_t N>
std::string Hex(const std::array<std::uint8_t, N>& a) {
  return Hex(a.data(), N);
}
// Exactly 2 * N hex digits of either case, nothing else.
bool ParseHex(std::string_view text, std::uint8_t* out, std::size_t n);

// Equal, in time that does not depend on where they differ.
bool SameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t size);

// libsodium set up for this process; false when it cannot be (no source of
// randomness, which verification does not need, is no reason here).
bool SodiumReady();

}  // namespace verify
