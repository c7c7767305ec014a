// The rule of both backends for what reaches the desktop's opener.
#include "platform/shell.h"

#include "platform/text.h"

namespace platform {

bool IsWebAddress(std::string_view url) {
  const std::string head = ToLower(url.substr(0, 8));
  const std::size_t scheme = head.rfind("http://", 0) == 0 ? 7 : head == "https://" ? 8 : 0;
  if (scheme == 0 || url.size() == scheme) return false;
  // No host: "http:///x" or "http://\\share" is no web address either.
  if (url[scheme] == '/' || url[scheme] == '\\') return false;
  // A blank or control byte would let the opener, or a shell behind it,
  // read one address as several words.
  return url.find(' ') == std::string_view::npos && !HasControlByte(url);
}

}  // namespace platform
