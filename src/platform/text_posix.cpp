#include "platform/text.h"

#include <cstdlib>
#include <cwchar>
#include <cwctype>

#include "platform/text_char.h"

namespace platform {

std::size_t MbCharLength(std::string_view s, std::size_t pos) {
  if (MB_CUR_MAX == 1 || static_cast<unsigned char>(s[pos]) < 0x80) return 1;
  std::mbstate_t state{};
  std::size_t n = std::mbrlen(s.data() + pos, s.size() - pos, &state);
  // (size_t)-1 invalid, (size_t)-2 cut short, 0 for a NUL byte: one byte each.
  if (n == 0 || n > s.size() - pos) return 1;
  return n;
}

namespace detail {

std::size_t DecodeCharacter(std::string_view s, std::size_t pos, bool& bControl) {
  std::mbstate_t state{};
  wchar_t wc = 0;
  const std::size_t n = std::mbrtowc(&wc, s.data() + pos, s.size() - pos, &state);
  if (n == 0 || n > s.size() - pos) return 0;
  bControl = std::iswcntrl(static_cast<wint_t>(wc)) != 0;
  return n;
}

}  // namespace detail

}  // namespace platform
