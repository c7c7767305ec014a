// Untrusted signature files (and key files, which tolvane-verify reads)
// through the minisign readers. What they accept has one spelling only:
// written out again from the parsed fields it must be the same text, line
// ends aside; so no second form of a file can mean the same to them.
#include <sodium.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "verify/minisign.h"

namespace {

template <typename Bytes>
std::string Base64(const std::string& head, const Bytes& bytes) {
  std::string raw = head + std::string(bytes.begin(), bytes.end());
  std::string out(sodium_base64_encoded_len(raw.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), reinterpret_cast<const unsigned char*>(raw.data()), raw.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  out.pop_back();
  return out;
}

// The text with its CRLF line ends as LF, and with one at the end.
std::string Lf(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(sodium_init() >= 0);
  std::string why;

  verify::Signature sig;
  if (verify::ParseSignature(text, sig, why)) {
    FUZZ_CHECK(size <= verify::kMaxSignatureFile);
    FUZZ_CHECK(sig.strTrustedComment.find_first_of("\r\n") == std::string::npos);
    const std::string untrusted = Lf(text).substr(0, Lf(text).find('\n'));
    const std::string again = untrusted + "\n" + Base64("ED", std::string(sig.keyId.begin(), sig.keyId.end()) +
                                                                  std::string(sig.signature.begin(), sig.signature.end())) +
                              "\ntrusted comment: " + sig.strTrustedComment + "\n" + Base64("", sig.globalSignature) + "\n";
    FUZZ_CHECK(again == Lf(text));
  } else {
    FUZZ_CHECK(!why.empty());
  }

  verify::PublicKey key;
  if (verify::ParseKeyLine(text, key, why)) {
    FUZZ_CHECK(Base64("Ed", std::string(key.keyId.begin(), key.keyId.end()) + std::string(key.key.begin(), key.key.end())) ==
               text);
  }
  if (verify::ParseKeyFile(text, key, why)) {
    const std::string lf = Lf(text);
    const std::string line = lf.substr(lf.find('\n') + 1, lf.size() - lf.find('\n') - 2);
    FUZZ_CHECK(Base64("Ed", std::string(key.keyId.begin(), key.keyId.end()) + std::string(key.key.begin(), key.key.end())) ==
               line);
  }
  return 0;
}
