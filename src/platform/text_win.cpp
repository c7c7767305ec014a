#include "platform/text.h"

#include <algorithm>

#include "platform/text_char.h"
#include "platform/windows_api.h"

namespace platform {

namespace {

// The longest character of the ANSI code page; the code page stays for
// the life of the process.
UINT MaxCharSize() {
  static const UINT size = [] {
    CPINFO info{};
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 1 ? info.MaxCharSize : 1u;
  }();
  return size;
}

}  // namespace

std::size_t MbCharLength(std::string_view s, std::size_t pos) {
  if (static_cast<unsigned char>(s[pos]) < 0x80) return 1;
  const UINT max = MaxCharSize();
  if (max == 1) return 1;
  // CharNextA wants a terminated string: the view need not be one.
  char piece[8] = {};
  const std::size_t n = std::min<std::size_t>({s.size() - pos, max, sizeof piece - 1});
  s.copy(piece, n, pos);
  const std::size_t step = static_cast<std::size_t>(CharNextA(piece) - piece);
  return step == 0 ? 1 : std::min(step, n);
}

namespace detail {

std::size_t DecodeCharacter(std::string_view s, std::size_t pos, bool& bControl) {
  const unsigned char b = static_cast<unsigned char>(s[pos]);
  if (b < 0x80) {
    bControl = b < 0x20 || b == 0x7F;
    return b == 0 ? 0 : 1;
  }
  const std::size_t n = MbCharLength(s, pos);
  WCHAR wide[2];
  const int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, s.data() + pos, static_cast<int>(n), wide, 2);
  if (count <= 0) return 0;
  bControl = count == 1 && wide[0] >= 0x80 && wide[0] <= 0x9F;
  return n;
}

}  // namespace detail

}  // namespace platform
