// The text helpers that need nothing of the system beyond the length and
// the kind of one character.
#include "platform/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "platform/text_char.h"

namespace platform {

bool HasControlByte(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

std::string EscapeControls(std::string_view s) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    bool control = false;
    std::size_t n = detail::DecodeCharacter(s, i, control);
    const bool plain = n != 0 && !control;
    if (n == 0) n = 1;  // a NUL or an invalid byte: one byte
    for (std::size_t k = i; k < i + n; ++k) {
      const unsigned char c = static_cast<unsigned char>(s[k]);
      if (plain) {
        out += static_cast<char>(c);
      } else {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
    }
    i += n;
  }
  return out;
}

std::size_t MbFind(std::string_view s, std::string_view what, std::size_t from) {
  if (what.empty()) return from <= s.size() ? from : npos;
  for (std::size_t i = from; i < s.size(); i += MbCharLength(s, i)) {
    if (s.compare(i, what.size(), what) == 0) return i;
  }
  return npos;
}

std::size_t MbFind(std::string_view s, char c, std::size_t from) {
  return MbFind(s, std::string_view(&c, 1), from);
}

std::size_t MbReverseFindOneOf(std::string_view s, std::string_view set) {
  std::size_t found = npos;
  for (std::size_t i = 0, n = 0; i < s.size(); i += n) {
    n = MbCharLength(s, i);
    if (n == 1 && set.find(s[i]) != std::string_view::npos) found = i;
  }
  return found;
}

std::size_t MbReverseFind(std::string_view s, char c) {
  return MbReverseFindOneOf(s, std::string_view(&c, 1));
}

std::string MbReplace(std::string_view s, char from, char to) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size(); i += MbCharLength(out, i)) {
    if (out[i] == from) out[i] = to;
  }
  return out;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string TrimLeft(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && IsBlank(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) {
  std::size_t e = s.size();
  while (e > 0 && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) { return TrimLeft(TrimRight(s)); }

std::string ToLower(std::string_view s) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size();) {
    std::size_t n = MbCharLength(out, i);
    if (n == 1 && out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
    i += n;
  }
  return out;
}

std::string Format(const char* fmt, ...) {
  char small[256];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < 0) return std::string();
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  va_start(ap, fmt);
  std::vsnprintf(out.data(), out.size(), fmt, ap);
  va_end(ap);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

int AtoI(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::uint32_t value = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) value = value * 10u + static_cast<std::uint32_t>(s[i] - '0');
  if (negative) value = 0u - value;
  return static_cast<int>(value);
}

}  // namespace platform
