#include "platform/path.h"

#include "platform/text.h"

namespace platform {

bool EndsWithSeparator(std::string_view path) {
  return !path.empty() && ReverseFindSeparator(path) == path.size() - 1;
}

std::size_t FindSeparator(std::string_view path, std::size_t from) {
  for (std::size_t i = from; i < path.size(); i += MbCharLength(path, i)) {
    if (kPathSeparators.find(path[i]) != std::string_view::npos) return i;
  }
  return npos;
}

std::size_t ReverseFindSeparator(std::string_view path) { return MbReverseFindOneOf(path, kPathSeparators); }

std::string NativePath(std::string_view slashed) { return MbReplace(slashed, '/', kPathSeparator); }

}  // namespace platform
