#include "platform/FileSystem.h"

#include <gtest/gtest.h>

TEST(NativePath, TurnsBackslashesIntoSlashesAndFoldsRuns) {
    EXPECT_EQ(platform::NativePath("D\\\\gallery\\user\\"), "D/gallery/user/");
    EXPECT_EQ(platform::NativePath("/tmp/dest/\\x\\\\y"), "/tmp/dest/x/y");
    EXPECT_EQ(platform::NativePath(""), "");
}
