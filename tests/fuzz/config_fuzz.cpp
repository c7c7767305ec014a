// An untrusted configuration answer: percent-decoding on its own, and the
// whole text through the XML walk that sets the addresses.
#include <cstdint>
#include <string>

#include "app/globals.h"
#include "app/remote_config.h"
#include "app/run_log.h"
#include "fuzz_check.h"

namespace {

std::string PercentEncodeAll(const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

// Set before each walk: a string the walk did not take keeps it.
const std::string kBefore = "unset";

void CheckTaken(const std::string& value) {
  FUZZ_CHECK(value == kBefore || value.find('\0') == std::string::npos);
  // As the log writes it: no user information left to strip, nothing
  // added; one line, whatever the address holds.
  const std::string shown = LoggedAddress(value);
  FUZZ_CHECK(shown.size() <= value.size() && LoggedAddress(shown) == shown);
  FUZZ_CHECK(shown.rfind(LoggedAddressWithoutQuery(value), 0) == 0);
  RunLog log;
  log.Add(shown);
  const std::string text = log.Text();
  FUZZ_CHECK(text.find('\n') == text.size() - 1 && text.find('\r') == std::string::npos);
}

const std::string kBehind =
    "    <url officialUrl=\"behind\" updateUrl=\"behind\" AdobeFlashUrl=\"behind\"/>&amp;&";

// The three strings after walking bytes, held in a string that keeps tail
// behind its terminating zero.
std::string Apply(const std::string& bytes, const std::string& tail) {
  std::string text = bytes + '\0' + tail;
  text.resize(bytes.size());  // the old bytes stay behind the new end
  g_strOfficialUrl = g_strUpdateUrl = g_strReportUrl = kBefore;
  ApplyRemoteConfig(text);
  CheckTaken(g_strOfficialUrl);
  CheckTaken(g_strUpdateUrl);
  CheckTaken(g_strReportUrl);
  return g_strOfficialUrl + '\n' + g_strUpdateUrl + '\n' + g_strReportUrl;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  const std::string decoded = UrlDecode(bytes);
  FUZZ_CHECK(decoded.size() <= bytes.size());
  FUZZ_CHECK(UrlDecode(PercentEncodeAll(bytes)) == bytes);
  if (bytes.find_first_of("%+") == std::string::npos) FUZZ_CHECK(decoded == bytes);

  // Read twice: with zeros behind the text's terminating zero, and with a
  // <url> element there. What the walk takes must be the same: a parser
  // that steps past the end of the text would take the element.
  const std::string zeros = Apply(bytes, std::string(8, '\0'));
  const std::string behind = Apply(bytes, kBehind);
  FUZZ_CHECK(zeros == behind);
  return 0;
}
