// An untrusted update manifest through the profile reader, in pieces of
// several sizes, against a plain reading of the same rules that holds the
// whole text: the streaming reader must agree with it wherever its pieces end.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

std::optional<std::string> ReadWhole(std::string_view text, std::string_view section, std::string_view key,
                                     std::size_t nSize) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool inside = false;
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    std::string line = platform::TrimLeft(text.substr(0, nl));
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (!line.empty() && line[0] == '[') {
      std::string name = platform::Trim(std::string_view(line).substr(1, line.find(']') - 1));
      if (inside) return std::nullopt;
      inside = platform::ToLower(name) == platform::ToLower(section);
      continue;
    }
    std::size_t eq = line.find('=');
    if (!inside || eq == std::string::npos) continue;
    if (platform::ToLower(platform::Trim(std::string_view(line).substr(0, eq))) != platform::ToLower(key)) continue;
    std::string v = platform::Trim(std::string_view(line).substr(eq + 1));
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
    v = v.substr(0, nSize > 0 ? nSize - 1 : 0);
    return v.substr(0, v.find('\0'));
  }
  return std::nullopt;
}

struct Query {
  const char* section;
  const char* key;
  std::size_t nSize;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  static const Query queries[] = {
      {"update", "versionNum", 16}, {"update", "GameUrl", 512}, {"UPDATE", "updateurl", 4}, {"", "", 2}, {"a", "b", 1}};
  for (const Query& q : queries) {
    const std::optional<std::string> expected = ReadWhole(text, q.section, q.key, q.nSize);
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
      platform::ProfileScanner scanner(q.section, q.key, q.nSize);
      for (std::size_t pos = 0; pos < size && !scanner.IsDone(); pos += piece)
        scanner.Feed(text.data() + pos, std::min(piece, size - pos));
      std::string value;
      const bool found = scanner.Finish(value);
      FUZZ_CHECK(found == expected.has_value());
      FUZZ_CHECK(!found || value == *expected);
      FUZZ_CHECK(value.size() < q.nSize || value.empty());
    }
  }
  return 0;
}
