#include "app/update.h"
#include "app/update_fetch.h"

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

TEST(SignatureUrl, MinisigAfterThePathBeforeAnyQuery) {
  struct {
    const char* manifest;
    const char* signature;
  } cases[] = {
      {"http://h/update.ini?t=17", "http://h/update.ini.minisig?t=17"},
      {"http://h/update.ini", "http://h/update.ini.minisig"},
      {"http://h/update.ini17", "http://h/update.ini17.minisig"},  // an update address without a query
      {"http://h/u.ini?a=1?b=2", "http://h/u.ini.minisig?a=1?b=2"},
      {"http://h/u.ini#part?x", "http://h/u.ini.minisig#part?x"},
      {"http://h:81/?t=-5", "http://h:81/.minisig?t=-5"},
      {"17", "17.minisig"},  // no address at all: it fails as the manifest did
  };
  for (const auto& c : cases) EXPECT_EQ(SignatureUrl(c.manifest), c.signature) << c.manifest;
}
