#include "app/update.h"

#include <gtest/gtest.h>

TEST(UpdateMutexPrefix, NameBeforeTheFirstDownloadDirectory) {
  struct Case {
    const char* dataDir;
    const char* prefix;
  } cases[] = {
      {"/home/u/.local/share/Launcher/", "_MUTEX"},
      {"/home/u/Download/Launcher/", "u_MUTEX"},
      {"/home/u/Download/x/Download/Launcher/", "u_MUTEX"},  // the first occurrence
      {"/srv/a\\b/Download/Launcher/", "a\\b_MUTEX"},
      // The byte in front of the occurrence is dropped, whatever it is.
      {"/data/MyDownload/Launcher/", "M_MUTEX"},
      {"a/Download/Launcher/", "a_MUTEX"},
      {"ab/Download/", "ab_MUTEX"},
      {"/Download/Launcher/", "_MUTEX"},   // position 1
      {"Download/Launcher/", "_MUTEX"},    // position 0
      {"/home/u/download/Launcher/", "_MUTEX"},  // exact case
      {"/home/u/Download", "_MUTEX"},            // no '/' behind it
      {"", "_MUTEX"},
  };
  for (const Case& c : cases) EXPECT_EQ(UpdateMutexPrefix(c.dataDir), c.prefix) << c.dataDir;
}
