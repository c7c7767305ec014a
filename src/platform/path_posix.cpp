#include "platform/path.h"

namespace platform {

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path[0] == '/'; }

}  // namespace platform
