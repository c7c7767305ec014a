// Readable names for table rows whose texts hold line ends or raw bytes.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

inline std::string Printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
