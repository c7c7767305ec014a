// What both URL openers share.
#include "platform/url_opener.h"

namespace platform {

std::string UrlForOpener(const std::string& url) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(url.size());
  for (unsigned char c : url) {
    if (c <= 0x20 || c == 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void AppendWithoutLineBreaks(std::string& text, const char* pData, std::size_t nLength) {
  for (std::size_t i = 0; i < nLength; ++i) {
    if (pData[i] != '\r' && pData[i] != '\n') text += pData[i];
  }
}

}  // namespace platform
