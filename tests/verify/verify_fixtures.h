// Byte-built minisign files, for what minisign itself never writes.
#pragma once

#include <sodium.h>

#include <string>

namespace verify_fixtures {

inline std::string Base64(const std::string& bytes) {
  std::string out(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  out.resize(out.size() - 1);  // its terminating zero
  return out;
}

// Key id 01 02 ... 08; the rest are bytes of no meaning.
inline std::string FixtureKeyId() { return std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8); }
inline std::string KeyLine(const std::string& algorithm = "Ed") { return Base64(algorithm + FixtureKeyId() + std::string(32, 'k')); }

struct SignatureLines {
  std::string untrusted = "untrusted comment: signature from minisign secret key";
  std::string signature = Base64("ED" + FixtureKeyId() + std::string(64, 's'));
  std::string trusted = "trusted comment: timestamp:1700000000\tfile:update.ini\thashed";
  std::string global = Base64(std::string(64, 'g'));
  std::string Text(const std::string& eol = "\n") const {
    return untrusted + eol + signature + eol + trusted + eol + global + eol;
  }
};

}  // namespace verify_fixtures
