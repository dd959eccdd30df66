// Where the data files go: the program's folder when writable, else
// XDG_STATE_HOME, else the home folder; failure when none is usable.
#include "runtime/data_directory.h"

#include <gtest/gtest.h>

TEST(DataDirectory, WritableExecutableFolderWins) {
  char out[256];
  ASSERT_EQ(DataDirectoryChoose("/opt/qv/", 1, "/x/state", "/home/u", out, sizeof(out)), 0);
  EXPECT_STREQ(out, "/opt/qv/");
}

TEST(DataDirectory, ReadOnlyFolderTakesXdgStateHome) {
  char out[256];
  ASSERT_EQ(DataDirectoryChoose("/usr/bin/", 0, "/x/state/", "/home/u", out, sizeof(out)), 0);
  EXPECT_STREQ(out, "/x/state/qvdelay/");
  ASSERT_EQ(DataDirectoryChoose("/usr/bin/", 0, "/x/state", "/home/u", out, sizeof(out)), 0);
  EXPECT_STREQ(out, "/x/state/qvdelay/");
}

TEST(DataDirectory, UnsetEmptyOrRelativeXdgFallsBackToHome) {
  char out[256];
  for (const char* xdg : {static_cast<const char*>(nullptr), "", "state"}) {
    ASSERT_EQ(DataDirectoryChoose("/usr/bin/", 0, xdg, "/home/u", out, sizeof(out)), 0);
    EXPECT_STREQ(out, "/home/u/.local/state/qvdelay/");
  }
}

TEST(DataDirectory, NoUsableFolderOrTooLongFails) {
  char out[24];
  EXPECT_EQ(DataDirectoryChoose("/usr/bin/", 0, nullptr, nullptr, out, sizeof(out)), 1);
  EXPECT_EQ(DataDirectoryChoose("/usr/bin/", 0, nullptr, "/home/someone-long", out, sizeof(out)), 1);
  EXPECT_STREQ(out, "");
}
