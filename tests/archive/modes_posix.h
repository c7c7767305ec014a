// Permission bits of what an extraction made, for the Linux build's tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

namespace zip_fixtures {

inline mode_t Umask() {
  const mode_t m = umask(0);
  umask(m);
  return m;
}

// The mode of the path itself, a link's included.
inline unsigned Mode(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

}  // namespace zip_fixtures
