// The scratch directory and archive that the item tests share.
#pragma once

#include <string>

#include "archive/zip_item.h"
#include "platform/cwd.h"
#include "support/support.h"
#include "zip_fixtures.h"

namespace zip_fixtures {

// Runs the test inside a scratch directory (the root of the handles it opens).
struct InDir {
  testing_support::TempDir dir;
  std::string saved = platform::GetCurrentDir();
  ZipHandle* handle = nullptr;

  InDir() { EXPECT_TRUE(platform::SetCurrentDir(dir.path())); }
  ~InDir() {
    if (handle) ZipCloseFile(handle);
    platform::SetCurrentDir(saved);
  }
  ZipHandle* Open(const Archive& a) {
    testing_support::WriteFile(dir / "a.zip", Build(a).bytes);
    handle = ZipOpenFile((dir / "a.zip").c_str());
    EXPECT_NE(handle, nullptr);
    return handle;
  }
};

inline Archive Three() {
  Archive a;
  a.entries = {{.name = "a.txt", .data = "alpha"},
               {.name = "b/c.txt", .data = std::string(50000, 'b'), .method = 8},
               {.name = "d.bin", .data = "delta"}};
  return a;
}

}  // namespace zip_fixtures
