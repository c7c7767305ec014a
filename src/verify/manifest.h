// What a signed update manifest adds in [update]: the SHA-256 and size of
// each package, and an optional expiry, so that the packages may come from
// anywhere and an old manifest cannot be replayed for ever.
//   GameSha256, updateSha256   64 hex digits
//   GameSize, updateSize       decimal bytes
//   expires                    decimal seconds since 1970 (UTC); optional
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "verify/digest.h"

namespace verify {

struct SignedPackage {
  Sha256 sha256{};
  std::uint64_t nSize = 0;
};

struct SignedManifest {
  SignedPackage game;
  SignedPackage update;
  std::optional<std::int64_t> tExpires;
};

// Decimal digits only (no sign, no blank, nothing behind them), at most max.
bool ParseDecimal(std::string_view text, std::uint64_t max, std::uint64_t& value);

// The entries of the manifest file at path, read with the platform's INI
// reader; false, with the reason, when one is missing or malformed or the
// manifest has expired at now.
bool ReadSignedManifest(const std::string& path, std::int64_t now, SignedManifest& manifest, std::string& why);

// The file against its signed size and SHA-256; its own size and digest
// come back for showing.
bool CheckPackageFile(const std::string& path, const SignedPackage& expected, std::uint64_t& size, Sha256& digest,
                      std::string& why);

}  // namespace verify
