#include <gtest/gtest.h>

#include "archive/zip_archive.h"
#include "support/support.h"

// CreateFileA does not open a directory as a file.
TEST(ZipArchive, DirectoryIsNoSource) {
  testing_support::TempDir t;
  std::uint32_t code = 0;
  EXPECT_EQ(OpenSource(t.path().c_str(), &code), nullptr);
  EXPECT_EQ(code, 0x200u);
}
