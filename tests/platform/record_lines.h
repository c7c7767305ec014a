// The lines of what a started program recorded, for the shell tests.
#pragma once

#include <string>
#include <vector>

inline std::vector<std::string> RecordLines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  for (std::size_t nl; (nl = text.find('\n', pos)) != std::string::npos; pos = nl + 1) out.push_back(text.substr(pos, nl - pos));
  return out;
}
