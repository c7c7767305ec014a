#include "app/update.h"

#include <gtest/gtest.h>

#include "support/support.h"

using testing_support::SystemPath;

TEST(UpdateMutexPrefix, NameBeforeTheFirstDownloadDirectory) {
  // Written with '/', handed over with the system's separator.
  struct Case {
    const char* dataDir;
    const char* prefix;
  } cases[] = {
      {"/home/u/.local/share/Launcher/", "_MUTEX"},
      {"/home/u/Download/Launcher/", "u_MUTEX"},
      {"/home/u/Download/x/Download/Launcher/", "u_MUTEX"},  // the first occurrence
      // The byte in front of the occurrence is dropped, whatever it is.
      {"/data/MyDownload/Launcher/", "M_MUTEX"},
      {"a/Download/Launcher/", "a_MUTEX"},
      {"ab/Download/", "ab_MUTEX"},
      {"/Download/Launcher/", "_MUTEX"},   // position 1
      {"Download/Launcher/", "_MUTEX"},    // position 0
      {"/home/u/download/Launcher/", "_MUTEX"},  // exact case
      {"/home/u/Download", "_MUTEX"},            // no separator behind it
      {"", "_MUTEX"},
  };
  for (const Case& c : cases) EXPECT_EQ(UpdateMutexPrefix(SystemPath(c.dataDir)), c.prefix) << c.dataDir;
}
