// Modes and links of extracted items: rules of the Linux build.
#include <gtest/gtest.h>
#include <unistd.h>

#include "archive/zip_item.h"
#include "modes_posix.h"
#include "support/support.h"
#include "zip_fixtures.h"
#include "zip_item_fixture.h"

using namespace zip_fixtures;
using testing_support::ReadFile;
using testing_support::WriteFile;

TEST(ZipItem, ExtractWritesTheModeUnderTheUmask) {
  InDir d;
  Archive a;
  a.entries = {
      {.name = "win.txt", .data = "windows", .external = 0x20, .madeBy = 0x0014},
      {.name = "run.sh", .data = "#!/bin/sh\n", .external = 0x81ED0000},
  };
  ZipHandle* h = d.Open(a);
  ASSERT_NE(h, nullptr);
  for (int i = 0; i < 2; ++i) ASSERT_EQ(ZipExtractItem(h, i, a.entries[i].name.c_str()), ZI_OK) << i;
  const mode_t mask = Umask();
  EXPECT_EQ(Mode(d.dir / "win.txt"), 0444u & ~mask);
  EXPECT_EQ(Mode(d.dir / "run.sh"), 0755u & ~mask);
}

TEST(ZipItem, LinkAtTheTargetIsNotFollowed) {
  InDir d;
  ZipHandle* h = d.Open(Three());
  ASSERT_NE(h, nullptr);
  WriteFile(d.dir / "outside.txt", "untouched");
  ASSERT_EQ(symlink((d.dir / "outside.txt").c_str(), (d.dir / "link.txt").c_str()), 0);
  EXPECT_EQ(ZipExtractItem(h, 0, "link.txt"), ZI_NOFILE);
  EXPECT_EQ(ReadFile(d.dir / "outside.txt"), "untouched");
}
