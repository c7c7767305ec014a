#include "platform/cwd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

std::string GetCurrentDir() {
  std::string buf(256, '\0');
  for (;;) {
    if (getcwd(buf.data(), buf.size()) != nullptr) {
      buf.resize(buf.find('\0'));
      // Linux reports an unreachable directory as "(unreachable)/...".
      return !buf.empty() && buf[0] == '/' ? buf : std::string();
    }
    if (errno != ERANGE || buf.size() > (1u << 20)) return std::string();
    buf.resize(buf.size() * 2);
  }
}

bool SetCurrentDir(const std::string& path) { return !path.empty() && chdir(path.c_str()) == 0; }

SavedCurrentDir::SavedCurrentDir() : m_h(open(".", O_PATH | O_DIRECTORY | O_CLOEXEC)) {}

SavedCurrentDir::~SavedCurrentDir() {
  if (m_h >= 0) close(static_cast<int>(m_h));
}

bool SavedCurrentDir::IsValid() const { return m_h >= 0; }

bool SavedCurrentDir::Restore() const { return m_h >= 0 && fchdir(static_cast<int>(m_h)) == 0; }

}  // namespace platform
