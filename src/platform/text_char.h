// What each backend tells the shared text code about one character.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform::detail {

// The character at s[pos] in the system's multibyte encoding: its length in
// bytes, with bControl set for a control character (C0, DEL, C1). 0 for a
// zero byte and for bytes that are no character (invalid, cut short).
std::size_t DecodeCharacter(std::string_view s, std::size_t pos, bool& bControl);

}  // namespace platform::detail
